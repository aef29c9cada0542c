// The base classes every component of the program derives from.
//
// TObject is what event handlers receive as their sender. TComponent adds an
// owner, a name and the component state flags the components test
// (being loaded from a form, being designed, being destroyed). Ownership of
// the objects themselves is plain C++: the owner holds them as members or
// unique_ptrs and frees them with itself.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

class TObject {
public:
    virtual ~TObject() = default;
};

enum TComponentStateFlag : std::uint8_t { csLoading = 1, csReading = 2, csDesigning = 4, csDestroying = 8 };

class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner = nullptr) : owner_(owner) {}
    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }

    std::uint8_t ComponentState() const { return state_; }
    bool HasState(TComponentStateFlag flag) const { return (state_ & flag) != 0; }
    void SetState(TComponentStateFlag flag, bool on) { state_ = on ? (state_ | flag) : (state_ & ~flag); }

private:
    TComponent* owner_;
    std::string name_;
    std::uint8_t state_ = 0;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;
