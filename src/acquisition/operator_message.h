// Messages that must reach the operator and wait for an answer: a modal box
// with one OK button in a window, standard error without one. The front end
// installs its own handler; the default writes to standard error.
#pragma once

#include <string>

using OperatorMessageHandler = void (*)(const std::string& text);

// Installs `handler` (nullptr restores the default).
void SetOperatorMessageHandler(OperatorMessageHandler handler);

// Shows `text` and returns once the operator has acknowledged it.
void ShowOperatorMessage(const std::string& text);
