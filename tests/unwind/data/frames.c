// Functions of many frame shapes for the unwinder's own fixtures: leaf and non-leaf, dynamic
// stack allocation (the frame pointer carries the CFA), large frames, many saved registers,
// floating-point callee-saved registers, variadic arguments, recursion and a function that never
// returns. Built for ARM, Thumb and AArch64 with several compilers and table kinds.
#include <stdarg.h>

extern void sink(void*, int);
extern void stop(void) __attribute__((noreturn));
volatile int counter;

int leaf(int a, int b) { return a * b + counter; }

int with_alloca(int n) {
    char* buffer = __builtin_alloca(n + 16);
    sink(buffer, n);
    return buffer[n / 2];
}

int large_frame(int n) {
    volatile char buffer[3000];
    buffer[n] = (char)n;
    sink((void*)buffer, n);
    return buffer[n + 1];
}

long many_registers(long a, long b, long c, long d) {
    long x = a * b, y = c * d, z = a + d, w = b - c, v = a ^ c, u = b | d, t = x + y;
    sink(&t, (int)x);
    for (int i = 0; i < (int)a; ++i) { x += y * z; y ^= w + v; z -= u; t += x; }
    sink(&x, (int)(y + z + w + v + u + t));
    return x + y + z + w + v + u + t;
}

double floating(double a, double b, int n) {
    double s = a, p = b;
    for (int i = 0; i < n; ++i) { sink(&s, i); s = s * p + a; p = p - s / (b + 1.0); }
    return s + p;
}

int variadic(int count, ...) {
    va_list args;
    va_start(args, count);
    int total = 0;
    for (int i = 0; i < count; ++i) total += va_arg(args, int);
    va_end(args);
    sink(&total, count);
    return total;
}

int recursive(int n) {
    if (n <= 0) { sink(0, 0); return 0; }
    return recursive(n - 1) + n * counter;
}

void never_returns(int n) {
    sink(&n, n);
    if (n > 3) stop();
    stop();
}

static int __attribute__((noinline)) helper(int* p, int n) {
    for (int i = 0; i < n; ++i) p[i] = i * counter;
    sink(p, n);
    return p[0];
}

int early_exit(int n) {
    if (n < 0) return -1;
    int local[32];
    return helper(local, n & 31) + local[n & 31];
}
