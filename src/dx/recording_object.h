// The common part of every object of the recording double: its log, kind and serial number.
#pragma once
#include <memory>
#include <string>

#include "dx/recording.h"
#include "dx/ref_counted.h"

namespace dx::recording {

// Names an object in the log ("Direct3DDevice8#1"); found from any of the layer's
// interfaces with dynamic_cast.
class named {
public:
    virtual ~named() = default;
    virtual std::string name() const = 0;
};

// The log name of an object, or "null".
inline std::string name_of(IUnknown* object) {
    if (!object) return "null";
    auto* n = dynamic_cast<named*>(object);
    return n ? n->name() : "foreign";
}

template <class Interface>
class recorded : public ref_counted<Interface>, public named {
public:
    recorded(std::shared_ptr<log> into, const char* kind)
        : log_(std::move(into)), kind_(kind), id_(log_->object_created(kind)) {}
    ~recorded() override { log_->object_destroyed(kind_, id_); }
    std::string name() const override { return kind_ + "#" + std::to_string(id_); }

protected:
    HRESULT enter(const char* method, const std::string& arguments = {}) {
        return log_->enter(kind_ + "." + method, arguments);
    }
    std::shared_ptr<log> log_;
    std::string kind_;
    int id_;
};

}  // namespace dx::recording
