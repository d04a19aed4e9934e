// A shared library that loads but is not a language library.

extern "C" __attribute__((visibility("default"))) int veltrane_fixture_answer() {
    return 42;
}
