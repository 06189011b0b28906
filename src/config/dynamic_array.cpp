#include "config/dynamic_array.h"

#include <cstdio>
#include <cstdlib>

namespace {

DynamicArrayCalloc g_calloc = nullptr;
DynamicArrayFree g_free = nullptr;

void* AllocZeroed(std::size_t count, std::size_t size) {
    return g_calloc != nullptr ? g_calloc(count, size) : std::calloc(count, size);
}

void Release(void* piece) {
    if (g_free != nullptr) {
        g_free(piece);
    } else {
        std::free(piece);
    }
}

constexpr char kHeading[] = "\n\ndynamic_array ERROR:\n\n";

void PrintDiagnostic(const char* text) {
    std::fputs(kHeading, stdout);
    std::fputs(text, stdout);
    std::fflush(stdout);
}

constexpr char kZeroDimensions[] =
    "The user has specified zero dimensions in the function\n"
    "dynamic_array. DYNAMIC MEMORY CAN NOT BE ALLOCATED!\n";
constexpr char kWrong1D[] =
    "Program has detected a request for 1-D array allocation\n"
    "with the dimension specified in the wrong argument.\n"
    "FOR A 1-D ARRAY, SPECIFY DIMENSION IN ARGUEMENT 1 OF\n"
    "THE FUNCTION dynamic_array.\n";
constexpr char kWrong2D[] =
    "Program has detected a request for 2-D array allocation\n"
    "with the dimensions specified in the wrong arguments.\n"
    "FOR A 2-D ARRAY, SPECIFY DIMENSIONS IN ARGUEMENTS\n"
    "1 AND 2 OF THE FUNCTION dynamic_array.\n";
constexpr char kWrong3D[] =
    "Program has detected a request for 3-D array allocation\n"
    "with the dimensions specified in the wrong arguments.\n"
    "FOR A 3-D ARRAY, SPECIFY DIMENSIONS IN ARGUEMENTS\n"
    "1,2 AND 3 OF THE FUNCTION dynamic_array.\n";
constexpr char kOutOfMemory[] =
    "Your system does not have enough memory available to perform\n"
    "the requested allocation. DYNAMIC MEMORY CAN NOT BE ALLOCATED!\n";

// Releases a (sub)array whose remaining dimensions are dims[0..rank-1].
// Tables may be partly filled (after a failed creation): null entries end them.
void FreeLevel(void* piece, const uint32_t* dims, int rank) {
    if (piece == nullptr) {
        return;
    }
    if (rank > 1) {
        void** table = static_cast<void**>(piece);
        for (uint32_t i = 0; i < dims[0]; ++i) {
            FreeLevel(table[i], dims + 1, rank - 1);
        }
    }
    Release(piece);
}

// Creates a (sub)array depth-first: the table, then entry 0 with everything
// below it, then entry 1, and so on. Null when any allocation fails.
void* MakeLevel(const uint32_t* dims, int rank, std::size_t element_size,
                std::size_t pointer_size) {
    if (rank == 1) {
        return AllocZeroed(dims[0], element_size);
    }
    void** table = static_cast<void**>(AllocZeroed(dims[0], pointer_size));
    if (table == nullptr) {
        return nullptr;
    }
    for (uint32_t i = 0; i < dims[0]; ++i) {
        table[i] = MakeLevel(dims + 1, rank - 1, element_size, pointer_size);
        if (table[i] == nullptr) {
            FreeLevel(table, dims, rank);
            return nullptr;
        }
    }
    return table;
}

int Rank(uint32_t d1, uint32_t d2, uint32_t d3, uint32_t d4) {
    return (d1 != 0) + (d2 != 0) + (d3 != 0) + (d4 != 0);
}

}  // namespace

void SetDynamicArrayAllocator(DynamicArrayCalloc allocator, DynamicArrayFree release) {
    g_calloc = allocator;
    g_free = release;
}

void* dynamic_array(uint32_t d1, uint32_t d2, uint32_t d3, uint32_t d4, std::size_t elementSize,
                    std::size_t pointerSize) {
    const int rank = Rank(d1, d2, d3, d4);
    if (rank == 0) {
        PrintDiagnostic(kZeroDimensions);
        return nullptr;
    }
    if (rank == 1 && d1 == 0) {
        PrintDiagnostic(kWrong1D);
        return nullptr;
    }
    if (rank == 2 && (d1 == 0 || d2 == 0)) {
        PrintDiagnostic(kWrong2D);
        return nullptr;
    }
    if (rank == 3 && (d1 == 0 || d2 == 0 || d3 == 0)) {
        PrintDiagnostic(kWrong3D);
        return nullptr;
    }
    const uint32_t dims[4] = {d1, d2, d3, d4};
    void* array = MakeLevel(dims, rank, elementSize, pointerSize);
    if (array == nullptr) {
        PrintDiagnostic(kOutOfMemory);
    }
    return array;
}

void free_dynamic_array(uint32_t d1, uint32_t d2, uint32_t d3, uint32_t d4, void* array) {
    const int rank = Rank(d1, d2, d3, d4);
    if (rank == 0) {
        return;
    }
    const uint32_t dims[4] = {d1, d2, d3, d4};
    FreeLevel(array, dims, rank);
}
