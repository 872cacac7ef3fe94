#include "shell/serial_ports.h"

#include "platform/platform.h"

bool check_serial_ports() {
    bool written = false;
    for (int port = 1; port <= PORT_COUNT; ++port) {
        char key[16];
        text_format(key, sizeof key, "COM%d:", port);
        char value[PORT_READ_SIZE + 1];
        // A write the system refuses changes nothing, so it is no reason to
        // ask the user to log off.
        if (profile_read(PORTS_SECTION, key, value, PORT_READ_SIZE) == 0 &&
            profile_write(PORTS_SECTION, key, DEFAULT_PORT_SETTING))
            written = true;
    }
    return written;
}
