#include "storage/IStorageDevice.h"

IStorageDevice::~IStorageDevice() = default;
