// AddressSanitizer's defaults for the board's binaries when they run under
// user-mode emulation. Compiled in, so that any run of them works as typed,
// whatever its environment; ASAN_OPTIONS still overrides them.
//
// - detect_leaks=0: the leak check stops the process's threads as a debugger
//   would, which the emulator cannot do; it would end every run that exits by
//   itself with a fatal error instead of the program's own status.
// - fast_unwind_on_malloc=1: on 32-bit ARM every allocation's stack is
//   otherwise recorded by the slow unwinder, which under emulation makes a
//   test that allocates per call several times slower. Only the allocation
//   stacks that a report shows may come out shorter; what is caught is the
//   same.
// - detect_stack_use_after_return=0: newer compilers (g++ 13 and later) turn
//   this check on by default; its fake stack frames make the emulated suite
//   about three times slower. The native suite keeps the check where the
//   compiler has it on.
extern "C" const char* __asan_default_options()
{
    return "detect_leaks=0:fast_unwind_on_malloc=1:detect_stack_use_after_return=0";
}
