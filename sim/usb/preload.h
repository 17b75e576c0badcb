#pragma once

namespace telvane::sim {

// A program that holds the emulated USB bus needs umockdev's preload library from its start.
// Runs the program again with it (and with AddressSanitizer, if built in, told that it cannot
// be first in the library order) when it is not there yet; returns true when it already is,
// false when running again failed.
bool runUnderUmockdevPreload(char** argv);

} // namespace telvane::sim
