// The functions the frame-shape fixtures call, in their own object so that calls stay calls.
void sink(void* p, int n) { (void)p; (void)n; }
void stop(void) { for (;;) { } }
