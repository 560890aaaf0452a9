#pragma once

// Local echo: typed characters are also shown in the terminal. Process-wide,
// false at start; loaded from "Echo" and changed by the properties dialog.
extern bool LocalEcho;
