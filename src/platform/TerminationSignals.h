#pragma once

#include <functional>

// Calls `handler` on the GUI thread, from the event loop, when the process receives SIGTERM or
// SIGINT; a program's way of being stopped cleanly. Call once, after the application object.
void OnTerminationSignal(std::function<void()> handler);
