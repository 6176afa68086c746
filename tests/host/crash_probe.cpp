// A module of its own for the crash report tests, to be copied to any path and
// loaded there: the report names the module that holds the fault address.
extern "C" __declspec(dllexport) int crashProbe() { return 1; }
