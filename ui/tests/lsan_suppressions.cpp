// Allocations that Qt and fontconfig make once per process and never free: the leak checker
// of the sanitizer build would report them in every window test.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n"
         "leak:QApplicationPrivate::initialize\n"
         "leak:QColormap::initialize\n";
}
