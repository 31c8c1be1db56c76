// The symbol look-up's own test library: C++ names in namespaces, classes, templates and lambdas;
// functions inlined three deep; structures whose members, unions, enumerators and pointers the
// layout-fact and type-text tests resolve; functions with many and wide parameters; calls to
// C library functions through PLT stubs. Built without any header so that every compiler can
// cross-compile it.
extern "C" {
int printf(const char*, ...);
unsigned long strlen(const char*);
void* memset(void*, int, unsigned long);
void abort(void);
}

namespace crashns {

struct Inner {
    int x;
    const char* label;
};

enum Kind { kKindNone = 0, kKindSmall = 3, kKindLarge = 0x40 };

struct Header {
    unsigned magic;
    union {
        int asInt;
        float asFloat;
    };
    Inner inner;
    Inner* next;
    Kind kind;
    unsigned char tail[6];
};

class Widget {
public:
    explicit Widget(int seed) : seed_(seed) {}
    virtual ~Widget();
    virtual int poke(volatile int* where, int value);
    static int counter;

private:
    int seed_;
};

int Widget::counter = 7;

Widget::~Widget() { counter--; }

__attribute__((always_inline)) inline int innermost(volatile int* p, int v) {
    *p = v * 3;
    return *p + 1;
}

__attribute__((always_inline)) inline int middle(volatile int* p, int v) {
    int r = innermost(p, v + 1);
    return r * 2 + *p;
}

__attribute__((always_inline)) inline int outer(volatile int* p, int v) {
    int r = middle(p, v ^ 5);
    return r - *p;
}

int Widget::poke(volatile int* where, int value) {
    counter += outer(where, value + seed_);
    return counter;
}

template <typename T>
__attribute__((noinline)) T twice(T value) {
    return value + value;
}

template int twice<int>(int);
template long long twice<long long>(long long);

}  // namespace crashns

namespace {
__attribute__((noinline)) int hidden(int v) { return v * 17 + static_cast<int>(strlen("hidden")); }
}  // namespace

crashns::Header g_header = {0xFEEDu, {5}, {1, "one"}, nullptr, crashns::kKindSmall, {1, 2, 3, 4, 5, 6}};

extern "C" __attribute__((noinline)) long long many_args(int a, long long b, int c, double d, int e, int f) {
    return a + b + c + static_cast<long long>(d) + e * f;
}

extern "C" int fixture_entry(int n) {
    crashns::Widget w(n);
    int slot = 0;
    int total = w.poke(&slot, n);
    auto lambda = [n](int k) { return k * n + hidden(k); };
    total += lambda(n);
    total += crashns::twice(n);
    total += static_cast<int>(crashns::twice<long long>(n));
    total += static_cast<int>(many_args(n, 2, 3, 4.5, 5, 6));
    memset(&slot, 0, sizeof slot);
    if (total == 12345) abort();
    printf("%d %s %d\n", total, g_header.inner.label, g_header.kind);
    return total;
}
