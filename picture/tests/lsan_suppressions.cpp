// Allocations fontconfig makes once per process and never frees: the leak checker of the
// sanitizer build would report them in every test that lays out text.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
