#include "config/dynamic_array.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

namespace {

// Records every piece handed out and released, and fails the n-th allocation.
struct AllocationLedger {
    static inline std::multiset<void*> live;
    static inline int allocations = 0;
    static inline int releases = 0;
    static inline int fail_at = -1;  // 1-based allocation number that fails

    static void* Calloc(std::size_t count, std::size_t size) {
        if (++allocations == fail_at) {
            return nullptr;
        }
        void* p = std::calloc(count, size);
        live.insert(p);
        return p;
    }
    static void Free(void* p) {
        ++releases;
        auto it = live.find(p);
        ASSERT_NE(it, live.end()) << "released a piece that is not live";
        live.erase(it);
        std::free(p);
    }
};

class DynamicArray : public ::testing::Test {
protected:
    void SetUp() override {
        AllocationLedger::live.clear();
        AllocationLedger::allocations = AllocationLedger::releases = 0;
        AllocationLedger::fail_at = -1;
        SetDynamicArrayAllocator(&AllocationLedger::Calloc, &AllocationLedger::Free);
    }
    void TearDown() override { SetDynamicArrayAllocator(nullptr, nullptr); }
};

const std::string kHeading = "\n\ndynamic_array ERROR:\n\n";

TEST_F(DynamicArray, ShapesAreNestedZeroFilledTables) {
    char* text = static_cast<char*>(dynamic_array(500, 0, 0, 0, 1, sizeof(void*)));
    ASSERT_NE(text, nullptr);
    for (int i = 0; i < 500; ++i) {
        ASSERT_EQ(text[i], 0);
    }
    EXPECT_EQ(AllocationLedger::allocations, 1);
    free_dynamic_array(500, 0, 0, 0, text);

    char*** labels = static_cast<char***>(dynamic_array(9, 100, 500, 0, 1, sizeof(void*)));
    ASSERT_NE(labels, nullptr);
    EXPECT_EQ(labels[8][99][499], 0);
    labels[8][99][499] = 'x';  // the last element is really there
    EXPECT_EQ(AllocationLedger::allocations, 1 + 1 + 9 + 900);

    double**** four = static_cast<double****>(dynamic_array(2, 3, 4, 5, 8, sizeof(void*)));
    ASSERT_NE(four, nullptr);
    EXPECT_EQ(four[1][2][3][4], 0.0);

    free_dynamic_array(9, 100, 500, 0, labels);
    free_dynamic_array(2, 3, 4, 5, four);
    EXPECT_TRUE(AllocationLedger::live.empty());
    EXPECT_EQ(AllocationLedger::releases, AllocationLedger::allocations);
}

TEST_F(DynamicArray, MisplacedDimensionsPrintTheirDiagnostic) {
    struct Case {
        uint32_t d1, d2, d3, d4;
        std::string text;
    };
    const Case cases[] = {
        {0, 0, 0, 0,
         "The user has specified zero dimensions in the function\n"
         "dynamic_array. DYNAMIC MEMORY CAN NOT BE ALLOCATED!\n"},
        {0, 9, 0, 0,
         "Program has detected a request for 1-D array allocation\n"
         "with the dimension specified in the wrong argument.\n"
         "FOR A 1-D ARRAY, SPECIFY DIMENSION IN ARGUEMENT 1 OF\n"
         "THE FUNCTION dynamic_array.\n"},
        {9, 0, 100, 0,
         "Program has detected a request for 2-D array allocation\n"
         "with the dimensions specified in the wrong arguments.\n"
         "FOR A 2-D ARRAY, SPECIFY DIMENSIONS IN ARGUEMENTS\n"
         "1 AND 2 OF THE FUNCTION dynamic_array.\n"},
        {4, 5, 0, 7,
         "Program has detected a request for 3-D array allocation\n"
         "with the dimensions specified in the wrong arguments.\n"
         "FOR A 3-D ARRAY, SPECIFY DIMENSIONS IN ARGUEMENTS\n"
         "1,2 AND 3 OF THE FUNCTION dynamic_array.\n"},
    };
    for (const Case& c : cases) {
        ::testing::internal::CaptureStdout();
        void* array = dynamic_array(c.d1, c.d2, c.d3, c.d4, 4, sizeof(void*));
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(array, nullptr);
        EXPECT_EQ(out, kHeading + c.text);
    }
    EXPECT_EQ(AllocationLedger::allocations, 0);
}

TEST_F(DynamicArray, EveryFailedAllocationReturnsNullAndLeavesNothingBehind) {
    const int pieces = 1 + 9 + 9 * 14;  // a (9, 14, 3) array
    for (int n = 1; n <= pieces; ++n) {
        SetUp();
        AllocationLedger::fail_at = n;
        ::testing::internal::CaptureStdout();
        void* array = dynamic_array(9, 14, 3, 0, 4, sizeof(void*));
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(array, nullptr) << n;
        EXPECT_EQ(out, kHeading +
                           "Your system does not have enough memory available to perform\n"
                           "the requested allocation. DYNAMIC MEMORY CAN NOT BE ALLOCATED!\n");
        EXPECT_TRUE(AllocationLedger::live.empty()) << "leak after failing allocation " << n;
    }
}

TEST_F(DynamicArray, FreeOfNullOrRankZeroReleasesNothing) {
    free_dynamic_array(9, 100, 0, 0, nullptr);
    free_dynamic_array(0, 0, 0, 0, nullptr);
    EXPECT_EQ(AllocationLedger::releases, 0);
}

}  // namespace
