// The recording double of the DirectX layer: every call is logged with its arguments, in
// order, and any operation can be told to fail with a chosen HRESULT.
#pragma once
#include <d3d8.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dx/layer.h"

namespace dx::recording {

struct keyboard_script;

class log {
public:
    // Makes the named operation (for instance "DirectX8.Direct3DCreate"), or one exact call
    // ("Direct3D8.EnumAdapterModes(0,2)"), fail from now on.
    void fail(const std::string& operation, HRESULT hr) { failures_[operation] = hr; }
    void succeed(const std::string& operation) { failures_.erase(operation); }
    // Makes only the nth call (counted from 1 since the log was made) of the named operation
    // fail, once; fault-injection sweeps fail each occurrence of each operation in turn.
    void fail_occurrence(const std::string& operation, int n, HRESULT hr) {
        one_shot_ = {operation, n, hr};
        one_shot_given_ = false;
    }
    // Whether that one failure has been given.
    bool occurrence_failed() const { return one_shot_given_; }
    // How many times each operation (without its arguments) has been entered.
    const std::map<std::string, int>& occurrences() const { return occurrences_; }

    // Records a call and returns the result the operation was told to give.
    HRESULT enter(const std::string& operation, const std::string& arguments = {});

    const std::vector<std::string>& calls() const { return calls_; }
    void clear() { calls_.clear(); }

    // Objects of a kind ("Direct3D8") made and not yet destroyed.
    int live(const std::string& kind) const;
    int made(const std::string& kind) const;
    // Objects of every kind not yet destroyed, by kind (kinds whose objects are all gone
    // count 0).
    const std::map<std::string, int>& live_objects() const { return live_; }
    int object_created(const std::string& kind);
    void object_destroyed(const std::string& kind, int id);

    // What the recording Direct3D objects report and keep, for tests to set and read.
    struct graphics_script {
        D3DDISPLAYMODE display_mode{800, 600, 60, D3DFMT_X8R8G8B8};  // GetAdapterDisplayMode
        std::vector<D3DDISPLAYMODE> adapter_modes;                    // the adapter's mode list
        DWORD raster_caps = 0;                                        // GetDeviceCaps
        std::vector<D3DPRESENT_PARAMETERS> present_parameters;       // one per CreateDevice
        std::vector<std::pair<D3DTRANSFORMSTATETYPE, D3DMATRIX>> transforms;  // every SetTransform
        std::vector<D3DMATERIAL8> materials;                          // every SetMaterial
        std::vector<D3DLIGHT8> lights;                                // every SetLight
        // What LoadMeshFromX reports for any file: its materials with their texture names.
        std::vector<std::pair<D3DMATERIAL8, std::wstring>> mesh_materials;
        // Where the loaded mesh's textures are, by material; materials past its end have none.
        std::vector<texture_source> texture_sources;
        // The loaded mesh's animations: their names and lengths in seconds.
        std::vector<std::pair<std::wstring, float>> mesh_animations;
    } graphics;

    // What the recording keyboard devices read (dx/recording_input.h).
    keyboard_script& keyboard();

private:
    std::vector<std::string> calls_;
    std::map<std::string, HRESULT> failures_;
    std::map<std::string, int> occurrences_;
    struct {
        std::string operation;
        int n = 0;
        HRESULT hr = S_OK;
    } one_shot_;
    bool one_shot_given_ = false;
    std::map<std::string, int> live_;
    std::map<std::string, int> made_;
    std::shared_ptr<keyboard_script> keyboard_;
};

// A factory that makes recording root objects logging into the given log. Creating the
// root object is the operation "DirectX8.create".
directx_factory factory(std::shared_ptr<log> into);

// A factory of recording D3DX8 objects ("D3DX8.create").
d3dx_factory d3dx(std::shared_ptr<log> into);

// A recording Direct3D8 object (made by the recording root's Direct3DCreate).
ComPtr<Direct3D8> make_direct3d8(std::shared_ptr<log> into);

// A recording DirectInput8 object (made by the recording root's DirectInputCreate).
ComPtr<DirectInput8> make_directinput8(std::shared_ptr<log> into);

}  // namespace dx::recording
