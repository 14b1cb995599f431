// Under the thread sanitizer: GStreamer's libav plugin registers its element
// types while holding more locks at once than the sanitizer's deadlock
// detector can track, which aborts the run inside the detector. Races are
// still reported; only the lock-order bookkeeping is off.
#if defined(__SANITIZE_THREAD__)
extern "C" const char *__tsan_default_options()
{
    return "detect_deadlocks=0";
}
#endif
