/* Calls through the PLT: each external function gets a linker stub. */
extern int external_one(int);
extern int external_two(int);
int caller(int x) { return external_one(x) + external_two(x + 1); }
