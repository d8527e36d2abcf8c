// The program's entry point on a 32-bit board at the ARMv6 level (a Pi 1 or
// Zero), in place of the C library's start files: those of a Debian armhf
// root, which the release is built against, are ARMv7 Thumb-2 code, which
// an ARMv6 processor cannot run. This is ARM code, and position-independent.
//
// As the ARM EABI's start files do, it hands the C library
// __libc_start_main(main, argc, argv, init, fini, rtld_fini, stack_end):
// argc and argv from the stack the kernel laid out, rtld_fini from the
// dynamic linker in r0, and no init or fini, since the program has no
// constructors or destructors of its own to run (its objects have no
// .init_array, which the board build's test checks).
asm(R"(
    .text
    .arm
    .globl _start
    .type _start, %function
_start:
    mov   fp, #0            @ the outermost frame
    mov   lr, #0
    pop   {r1}              @ argc
    mov   r2, sp            @ argv
    push  {r2}              @ stack_end, the seventh argument
    push  {r0}              @ rtld_fini, the sixth
    mov   r3, #0            @ init, the fourth
    push  {r3}              @ fini, the fifth
    ldr   r0, .Lmain
.Lpc:
    add   r0, pc, r0        @ main: pc reads as .Lpc + 8 here
    bl    __libc_start_main
    bl    abort             @ it never returns
.Lmain:
    .word main - (.Lpc + 8)
    .size _start, . - _start
)");
