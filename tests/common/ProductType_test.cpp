#include "common/ProductType.h"

#include <gtest/gtest.h>

#include <string>

TEST(ProductType, ProductByteRoundTripsAndOnlyItsLowFourBitsCount)
{
    const struct {
        ProductType type;
        uint8_t byte;
        const char* name;
    } types[] = {{ProductTavik1, 0, "Tavik1"}, {ProductNerio3, 1, "Nerio3"}, {ProductVx7, 2, "Vx7"}};
    for (const auto& t : types) {
        EXPECT_EQ(t.byte, productByteOf(t.type)) << t.name;
        EXPECT_EQ(t.type, productTypeFromByte(productByteOf(t.type))) << t.name;
        EXPECT_EQ(std::string(t.name), productTypeName(t.type));
    }
    EXPECT_EQ(ProductUnknown, productTypeFromByte(productByteOf(ProductUnknown)));
    EXPECT_EQ(std::string("Unknown"), productTypeName(ProductUnknown));

    const struct {
        uint8_t byte;
        ProductType type;
    } bytes[] = {{0x00, ProductTavik1}, {0x01, ProductNerio3},  {0x21, ProductNerio3}, {0x02, ProductVx7},
                 {0xF2, ProductVx7},    {0x03, ProductUnknown}, {0x0F, ProductUnknown}};
    for (const auto& c : bytes)
        EXPECT_EQ(c.type, productTypeFromByte(c.byte)) << int(c.byte);
}
