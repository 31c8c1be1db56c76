/* A small library the ELF reader tests are built from, for 32-bit ARM and AArch64. */
int counter = 3;
static int helper(int x) { return x * counter + 1; }
int compute(int n) {
    int sum = 0;
    for (int i = 0; i < n; ++i) sum += helper(i);
    return sum;
}
__attribute__((noinline)) void crash_here(int* p) { *p = compute(4); }
const char* fixture_name(void) { return "fixture"; }
int main(void) { return compute(2) == 0; }

/* A note of our own. notes.ld places it after .rodata, so the linker gives it a PT_NOTE segment
   of its own after the one holding the build-id, as Android libraries have. */
__asm__(".pushsection .note.ferrovane,\"a\",%note\n"
        ".balign 4\n"
        ".long 10\n .long 6\n .long 0x4652\n"
        ".asciz \"Ferrovane\"\n .balign 4\n"
        ".byte 1,2,3,4,5,6\n .balign 4\n"
        ".popsection\n");
