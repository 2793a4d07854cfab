// What the card's and the models' steps share: a device key's first
// instance, the "driver" value of that instance, and the deletion of the
// class key the value names. Text values are read by one rule everywhere.
#pragma once

#include <cstddef>

#include "platform/platform.h"

// Reads a text value into buffer (capacity `size` bytes). True only when the
// query succeeds and the text ends within the buffer: data that fills the
// buffer without a terminator did not fit and must never be used unbounded.
bool QueryTextValue(platform::HKEY key, const char *valueName, char *buffer, std::size_t size);

// The name of key's first subkey, in name (capacity `size` characters). False
// when it has none or the name and its terminator do not fit.
bool FirstSubkeyName(platform::HKEY key, char *name, std::size_t size);

// Opens the device instance `instanceName` below deviceKey, reads its
// "driver" value into driver (capacity `size` bytes) and closes it again.
bool QueryInstanceDriver(platform::HKEY deviceKey, const char *instanceName, char *driver,
                         std::size_t size);

// Opens the class root and deletes, below it, the class key that a device
// instance's "driver" value names, with its subtree. The value must name an
// instance below a class ("MODEM\0000"): an empty value, a whole class, or a
// path with an empty element deletes nothing.
void DeleteDriverClassKey(const char *driverValue);
