/* Ordinary compiled code for the decoder's differential and emulation checks: loops, switches,
   structures, 64-bit arithmetic, floating point, calls and tail calls. Built without unwind
   tables. */
typedef struct Node { struct Node* next; int value; long long wide; double real; } Node;

extern void sink(void* p);
extern int opaque(int x);

int sum_list(const Node* n) {
    int total = 0;
    for (; n; n = n->next) total += n->value;
    return total;
}

long long mix(long long a, long long b, int c) {
    long long r = a * b + (a >> (c & 31)) - (b << 3);
    if (c > 10) r ^= a / (b | 1);
    return r;
}

int classify(int x) {
    switch (x) {
    case 0: return 11;
    case 1: return opaque(x) + 3;
    case 2: return 7;
    case 3: return opaque(x * 5);
    case 4: return x << 4;
    case 5: return -x;
    default: return x > 100 ? 1 : -1;
    }
}

double scale(const double* v, int n, double f) {
    double acc = 0;
    for (int i = 0; i < n; ++i) acc += v[i] * f;
    return acc;
}

int with_locals(int a, int b) {
    int buffer[16];
    for (int i = 0; i < 16; ++i) buffer[i] = a * i + b;
    sink(buffer);
    return buffer[a & 15] + buffer[b & 15];
}

unsigned bits(unsigned x) {
    unsigned n = 0;
    while (x) { n += x & 1; x >>= 1; }
    return n + (x >> 5) + (unsigned)__builtin_clz(x | 1);
}

int tail(int x) { return opaque(x + 1); }

void fill(Node* n, int count) {
    for (int i = 0; i < count; ++i) {
        n[i].value = i;
        n[i].wide = (long long)i * 1000000007LL;
        n[i].real = i * 0.5;
        n[i].next = i + 1 < count ? &n[i + 1] : 0;
    }
    sink(n);
}

int many_arguments(int a, int b, int c, int d, int e, int f) { return opaque(a + b * c - d) + e * f; }
int call_many(int x) { return many_arguments(x, 2, 3, x + 4, 5, 6) + 1; }
