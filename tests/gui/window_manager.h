// The X server and window manager that window_manager_main.cpp starts.
#pragma once

#include <string>

// Why the tests cannot run on a managed display; empty when they can.
const std::string& WindowManagerUnavailable();
// The display (":N") the toolkit uses.
const std::string& WindowManagerDisplay();
