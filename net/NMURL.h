// TNMURL: URL encoding of form data (used by TNMHTTP::Post).
//
// Encode turns every byte of InputString into "+" for a blank, the byte
// itself for "0".."9", "A".."Z", "a".."z", and "%" with two upper-case
// hexadecimal digits otherwise. Should encoding fail, OnError receives
// "Error during encode" and the message, and the result is the input.
#pragma once
#include "runtime/Classes.h"

#include <functional>
#include <string>

using TOnErrorEvent = std::function<void(TObject* Sender, const std::string& Operation, const std::string& ErrMsg)>;

class TNMURL : public TComponent {
public:
    explicit TNMURL(TComponent* owner = nullptr) : TComponent(owner) {}

    std::string InputString;
    TOnErrorEvent OnError;

    std::string Encode();
};
