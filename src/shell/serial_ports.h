// The serial-port entries COM1: to COM4: of the system profile's "ports"
// section.
#pragma once

constexpr const char* PORTS_SECTION = "ports";
constexpr const char* DEFAULT_PORT_SETTING = "9600,n,8,1";
constexpr int PORT_COUNT = 4;
constexpr unsigned PORT_READ_SIZE = 79; // offered to the read; only the length is used

// Writes the default setting for each missing or empty entry. True when at
// least one was written (false when every write was refused).
bool check_serial_ports();
