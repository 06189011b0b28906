// Zero-filled arrays of one to four dimensions built as nested pointer tables.
// Every table and every leaf block is its own allocation; elements are reached
// as a[i], a[i][j], a[i][j][k] or a[i][j][k][l]. The fixed-capacity tables of the
// configuration record and of the acquisition thread are made this way.
#pragma once

#include <cstddef>
#include <cstdint>

// Creates an array of rank N (the number of non-zero dimensions; they must be
// the leading ones). `elementSize` is the size of one element of the last
// dimension, `pointerSize` the size of one table entry. Returns null, after
// printing a diagnostic to standard output, for misplaced dimensions or when
// memory runs out (pieces obtained before the failure are released).
void* dynamic_array(uint32_t d1, uint32_t d2, uint32_t d3, uint32_t d4, std::size_t elementSize,
                    std::size_t pointerSize);

// Releases an array made by dynamic_array, given the same dimensions.
// A null handle releases nothing.
void free_dynamic_array(uint32_t d1, uint32_t d2, uint32_t d3, uint32_t d4, void* array);

// Typed shorthands for the calling forms in use.
template <typename T>
T* dynamic_array_1d(uint32_t d1) {
    return static_cast<T*>(dynamic_array(d1, 0, 0, 0, sizeof(T), sizeof(void*)));
}
template <typename T>
T** dynamic_array_2d(uint32_t d1, uint32_t d2) {
    return static_cast<T**>(dynamic_array(d1, d2, 0, 0, sizeof(T), sizeof(void*)));
}
template <typename T>
T*** dynamic_array_3d(uint32_t d1, uint32_t d2, uint32_t d3) {
    return static_cast<T***>(dynamic_array(d1, d2, d3, 0, sizeof(T), sizeof(void*)));
}

// Test seam: the zero-filling allocator and the release behind every piece
// (calloc and free by default), so tests can fail the n-th allocation and
// count releases. nullptr restores the default.
using DynamicArrayCalloc = void* (*)(std::size_t count, std::size_t size);
using DynamicArrayFree = void (*)(void* piece);
void SetDynamicArrayAllocator(DynamicArrayCalloc allocator, DynamicArrayFree release);
