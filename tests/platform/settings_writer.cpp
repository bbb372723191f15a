// Counts one key up through the settings store, from the value stored, until
// it is killed: the kill test stops it with SIGKILL at random moments.
// Usage: settings_writer FILE KEY
#include "platform/JsonSettingsStore.h"

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    quillmere::JsonSettingsStore store(QString::fromLocal8Bit(argv[1]));
    for (double next = store.doubleValue(argv[2]) + 1;; ++next)
        store.setObject(argv[2], next);
}
