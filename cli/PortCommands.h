#pragma once
// update-cli's port commands: list the serial devices and where ComN leads,
// and make ComN lead to a device for this user without root.

#include "CliOptions.h"
#include "PortInfo.h"
#include "PortName.h"

#include <cstdio>

// --list-ports: every serial device with its adapter, access, by-id names
// and latency timer, then where Com1..Com10 lead; with `json`, a JSON line
// ("event": "port") per device, then one ("event": "com") per ComN.
// Exit status 0.
int RunListPorts(const devupdate::link::SPortPlaces& places, std::FILE* out, bool json);

// --map-port ComN DEVICE: the user's link ports/comN to DEVICE's by-id name
// (DEVICE itself when it has none); "-" removes the link. Prints where ComN
// leads afterwards. Exit status 0, or 2 when DEVICE does not exist or the
// link cannot be made (the reason on standard error).
int RunMapPort(const SCliOptions& options, const devupdate::link::SPortPlaces& places);
