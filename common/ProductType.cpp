#include "common/ProductType.h"

namespace {

constexpr uint8_t UnknownProductByte = 0x0F;

} // namespace

ProductType productTypeFromByte(uint8_t productByte)
{
    switch (productByte & 0x0F) {
    case 0: return ProductTavik1;
    case 1: return ProductNerio3;
    case 2: return ProductVx7;
    default: return ProductUnknown;
    }
}

uint8_t productByteOf(ProductType type)
{
    switch (type) {
    case ProductTavik1: return 0;
    case ProductNerio3: return 1;
    case ProductVx7: return 2;
    default: return UnknownProductByte;
    }
}

const char* productTypeName(ProductType type)
{
    switch (type) {
    case ProductTavik1: return "Tavik1";
    case ProductNerio3: return "Nerio3";
    case ProductVx7: return "Vx7";
    default: return "Unknown";
    }
}
