// Starting the bootstrap-loader programmer on the file just written.
#pragma once

// With the switch -p: shows the programmer's command and starts it without
// waiting for it. Writes nothing without the switch.
void HandOffToProgrammer();
