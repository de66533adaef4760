// The example scanner's service object, built into its test.
#include "examples/scanner/scanner_service_object.cpp"
