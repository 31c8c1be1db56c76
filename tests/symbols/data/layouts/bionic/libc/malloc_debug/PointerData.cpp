#include "../../../layout_fixture.h"

struct FreePointerInfoType {
    uintptr_t mangled_ptr;
    size_t hash_index;
};

FreePointerInfoType g_free_pointer;

FACT_EXPECTED expected_free_pointer[] = {
    sizeof(FreePointerInfoType),
    FACT_OFFSET(FreePointerInfoType, mangled_ptr),
    FACT_OFFSET(FreePointerInfoType, hash_index),
};
