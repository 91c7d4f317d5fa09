// The scsitool tests' trace capture, shared rather than copied.
#include "../scsitool/trace_capture.cpp"
