// Thread-sanitizer defaults for this test program. GLib registers GObject
// types while holding nested locks of its own; the sanitizer's deadlock
// detector overflows its per-thread lock table on them and aborts. Data-race
// detection stays on; TSAN_OPTIONS from the environment still wins.
extern "C" const char *__tsan_default_options()
{
    return "detect_deadlocks=0";
}
