// Writes one key many times through the settings store; the kill test stops
// it with SIGKILL at random moments. Usage: settings_writer FILE KEY COUNT
#include "platform/JsonSettingsStore.h"

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4)
        return 2;
    quillmere::JsonSettingsStore store(QString::fromLocal8Bit(argv[1]));
    const long count = std::atol(argv[3]);
    for (long i = 0; i < count; ++i)
        store.setObject(argv[2], static_cast<double>(i));
    return 0;
}
