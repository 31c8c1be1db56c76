// Shared by the layout-fact test units: each unit lays out structures the way the Android
// library named by its path does (the members the analyzer reads, with others around them) and
// exports, in `expected_*` arrays, the offsets, sizes and values its compiler gave them.
#pragma once
#include <stddef.h>
#include <stdint.h>

#define FACT_OFFSET(type, member) ((long long)__builtin_offsetof(type, member))
#define FACT_EXPECTED extern "C" __attribute__((used)) const long long

template <class T> struct Vector {
    T* begin;
    T* end;
    T* capacity;
};
struct String {
    char* data;
    size_t size;
    size_t capacity;
};
