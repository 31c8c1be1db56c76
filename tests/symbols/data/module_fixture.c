/* A small shared library for the module-matching tests. VARIANT changes two instructions far
 * apart (a build that is not the one that ran); SOURCE_DATE_EPOCH changes only the compile date
 * and time texts (and the build-id). */
#ifndef VARIANT
#define VARIANT 3
#endif

const char fixture_built[] = "built " __DATE__ " at " __TIME__;
int fixture_counter;
static int (*fixture_hooks[2])(int);
int fixture_table[8] = {1, 2, 3, 4, 5, 6, 7, 8};
int *fixture_pointer = &fixture_counter;
extern int fixture_external __attribute__((weak));

__attribute__((constructor)) static void fixture_init(void) { fixture_counter = 1; }
__attribute__((destructor)) static void fixture_fini(void) { fixture_counter = 0; }

__attribute__((noinline)) int fixture_step(int x) { return x * VARIANT + fixture_counter; }

const char *fixture_when(void) { return fixture_built; }
int fixture_outside(void) { return &fixture_external ? fixture_external : -1; }

__attribute__((noinline)) int fixture_spread(int x) {
    int total = 0;
    for (int i = 0; i < 64; ++i) {
        switch ((x + i) % 12) {
            case 0: total += x * 7 + i; break;
            case 1: total ^= x << (i % 5); break;
            case 2: total -= fixture_table[i % 8] * x; break;
            case 3: total += (x >> 2) * 13; break;
            case 4: total |= x * i; break;
            case 5: total += fixture_counter * 17; break;
            case 6: total -= x / (i + 1); break;
            case 7: total += fixture_table[(x + i) % 8] << 3; break;
            case 8: total ^= x * 31 + i; break;
            case 9: total += i * i - x; break;
            case 10: total -= (x & 0xF0) >> 1; break;
            default: total += 5; break;
        }
    }
    return total;
}

__attribute__((noinline)) int fixture_last(int x) { return (x + VARIANT * 11) ^ *fixture_pointer; }

int fixture_call(int i, int x) { return fixture_hooks[i & 1] ? fixture_hooks[i & 1](x) : fixture_last(fixture_spread(fixture_step(x))); }
void fixture_set(int i, int (*f)(int)) { fixture_hooks[i & 1] = f; }
