// The input layer's tests on a real kernel (run inside the test VM, where
// /dev/uinput is writable). The layer runs on its own input thread; the Qt
// application object is there for the tests that run programs with QProcess.
//   input_vm_tests --host=PATH [gtest options]
// PATH is the helper program that runs the layer in a process of its own.
#include "VmFixture.h"

#include <QCoreApplication>

#include <cstring>

namespace quillmere::vmtest {
std::string hostProgram;
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--host=", 7) == 0)
            quillmere::vmtest::hostProgram = argv[i] + 7;
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
