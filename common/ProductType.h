#pragma once

#include <cstdint>

// Aircraft types, numbered as the datagram's "ProductType" carries them. The
// visualiser chooses its model by this number.
enum ProductType { ProductUnknown = 0, ProductTavik1 = 1, ProductNerio3 = 2, ProductVx7 = 3 };

// The aircraft numbers itself differently in its parameter request: the low
// four bits of the product byte are 0 Tavik1, 1 Nerio3, 2 Vx7.
ProductType productTypeFromByte(uint8_t productByte);
// The product byte an aircraft of this type sends; ProductUnknown gives a byte
// that reads back as unknown.
uint8_t productByteOf(ProductType type);

// "Tavik1", "Nerio3", "Vx7" or "Unknown".
const char* productTypeName(ProductType type);
