// Settings of the sanitizer build (-DVOKT_SANITIZE=ON), built into the
// executables: the black-box tests start vokt.cgi with an exact environment,
// so ASAN_OPTIONS could not reach it.  A finding ends the process with the
// status 86, which no run of the program gives by itself, and leaks are
// findings too.
extern "C" {

__attribute__((used, visibility("default"))) const char *__asan_default_options()
{
    return "exitcode=86:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:"
           "check_initialization_order=1:strict_init_order=1";
}

__attribute__((used, visibility("default"))) const char *__ubsan_default_options()
{
    return "halt_on_error=1:print_stacktrace=1:exitcode=86";
}
}
