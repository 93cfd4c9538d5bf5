// The program's device set-up before every operation, and its text fields.
#pragma once

namespace qmx {

class Connection;
class Operator;
struct PartTarget;
struct ProgramSettings;

// SET_RESTART, SET_MODE, supply, pins, clock, CHK_DEVICE and the size check.
// False: abandon the operation (the supply has been switched off again).
bool ProgramDeviceSetup(Connection& link, const ProgramSettings& settings, const PartTarget& part, Operator& op);

// The clock table of the window, in Hz; index outside the table: the standard 100 kHz.
int ClockHz(int clockIndex);

// GET_LAST_ERR; UNKNOWN_ERROR when the answer does not arrive.
int LastError(Connection& link);

}  // namespace qmx
