// The recording double of the DirectX layer: every call is logged with its arguments, in
// order, and any operation can be told to fail with a chosen HRESULT.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dx/layer.h"

namespace dx::recording {

class log {
public:
    // Makes the named operation (for instance "DirectX8.Direct3DCreate") fail from now on.
    void fail(const std::string& operation, HRESULT hr) { failures_[operation] = hr; }
    void succeed(const std::string& operation) { failures_.erase(operation); }

    // Records a call and returns the result the operation was told to give.
    HRESULT enter(const std::string& operation, const std::string& arguments = {});

    const std::vector<std::string>& calls() const { return calls_; }
    void clear() { calls_.clear(); }

    // Objects of a kind ("Direct3D8") made and not yet destroyed.
    int live(const std::string& kind) const;
    int made(const std::string& kind) const;
    int object_created(const std::string& kind);
    void object_destroyed(const std::string& kind, int id);

private:
    std::vector<std::string> calls_;
    std::map<std::string, HRESULT> failures_;
    std::map<std::string, int> live_;
    std::map<std::string, int> made_;
};

// A factory that makes recording root objects logging into the given log. Creating the
// root object is the operation "DirectX8.create".
directx_factory factory(std::shared_ptr<log> into);

}  // namespace dx::recording
