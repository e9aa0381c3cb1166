// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "protocol/Errors.h"

// A text that does not read as the number an entry field or dialog expects.
class EConvertError : public EKaroError {
public:
    using EKaroError::EKaroError;
};
