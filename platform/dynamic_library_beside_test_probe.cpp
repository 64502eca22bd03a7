// A library with nothing in it, built beside the dynamic library test.
extern "C" int dynamic_library_beside_marker() { return 1; }
