#pragma once
// Cameras and the global viewing state of the 3D pipeline: the view and
// projection matrices, their product, the view frustum and the eye
// position, which every 3D drawing module reads through the static getters
// below. They change only in UpdateTransforms and a camera's Apply.
//
// Camera objects each hold a projection, a view built from three axes and
// a position, and their product. Turning or moving a camera does not
// rebuild its view: call UpdateView afterwards. Shaping the projection
// does not refresh the product either: UpdateView or SetViewMatrix does.
// Main thread only.
#include <cstdint>

#include "engine/core/matrix.h"
#include "engine/core/object.h"
#include "engine/core/vector.h"
#include "engine/render/axes.h"

class OrvaModel;

// The view frustum in world space. Corner i is the clip-space point
// (bit 0 ? 1 : -1, bit 1 ? 1 : -1, bit 2 ? 1 : 0) carried back into the
// world; planes near, far, left, right, top, bottom, each (a, b, c, d)
// with a x + b y + c z + d >= 0 on the inner side.
struct OrvaFrustum {
    OrvaVector corners[8];
    float planes[6][4] = {};
};

class OrvaCamera : public OrvaObject, public OrvaAxes {
public:
    // ---- module
    // Empties the camera list and becomes the source of the view x
    // projection that screen-to-world reads; registers the device-reset
    // walker that sends view and projection to the device again.
    static bool Initialize();
    // Releases every camera still alive.
    static void Destroy();
    // The camera module has no device resources; after a reset it sends the
    // global view and projection again (the device forgot them).
    static void OnLostDevice();
    static void OnResetDevice();

    // ---- creation: null when the camera cannot be allocated.
    static OrvaCamera* Create();

    // ---- global state
    static void GetViewProjection(OrvaMatrix* out);
    static void GetView(OrvaMatrix* out);
    static void GetProjection(OrvaMatrix* out);
    static void GetEyePosition(OrvaVector* out);
    static const OrvaFrustum& GetFrustum();
    // Store the matrix only: product, frustum and device stay as they are
    // until UpdateTransforms.
    static void SetView(const OrvaMatrix& m);
    static void SetProjection(const OrvaMatrix& m);
    // Product and frustum from the global view and projection, then both
    // sent to the device.
    static void UpdateTransforms();
    // Sends the global view and projection to the device, nothing else.
    static void ApplyTransforms();
    // A box as eight corners and six planes in the frustum's order: true
    // when it lies inside or touches the frustum.
    static bool IsBoxVisible(const OrvaVector* corners, const float (*planes)[4]);

    // ---- camera methods
    // Left-handed perspective, depth 0 at near and 1 at far. An aspect of
    // exactly 0 takes the viewport's width / height.
    virtual void SetPerspective(float fovDegrees, float nearClip, float farClip, float aspect);
    virtual void SetOrtho(float width, float height, float nearClip, float farClip);
    virtual void GetViewProjectionMatrix(OrvaMatrix* out) const;
    virtual void GetViewMatrix(OrvaMatrix* out) const;
    virtual void GetProjectionMatrix(OrvaMatrix* out) const;
    // Axes and position back to their construction values; the clip
    // distances, aspect, field of view and matrices stay.
    virtual void Reset();
    // Normalises the axes and builds the view and the product from them.
    virtual void UpdateView();
    // Yaw, Pitch, Roll, RotateX, RotateY, RotateZ and Translate (OrvaAxes)
    // turn and move the camera.
    // Eye at `eye` looking at `target`; up may be null for +Y. Straight up
    // or down, the up hint becomes -Z or +Z.
    virtual void LookAt(const OrvaVector* eye, const OrvaVector* target, const OrvaVector* up);
    // From light `index`'s position along its direction; an index outside
    // 0 to 3 keeps position and front and rebuilds right and up.
    virtual void LookAlongLight(int32_t index);
    // Position, front, up and right copied from the model (through its
    // GetPosition, GetFront, GetUp and GetRight), so the camera rides on
    // it; a null model changes nothing.
    virtual void SetFromModel(const OrvaModel* model);
    virtual void GetFront(OrvaVector* out) const;
    virtual void GetUp(OrvaVector* out) const;
    virtual void GetRight(OrvaVector* out) const;
    virtual void GetPosition(OrvaVector* out) const;
    // view = m, then the product from the new view and the projection.
    virtual void SetViewMatrix(const OrvaMatrix& m);
    // Makes this camera the current one: its matrices go to the device and
    // into the globals with its position as the eye, and the frustum is
    // rebuilt.
    virtual void Apply();

    float GetNear() const { return nearClip; }
    float GetFar() const { return farClip; }
    float GetAspect() const { return aspect; }
    float GetFov() const { return fov; }   // radians

    ~OrvaCamera() override;

private:
    OrvaCamera();
    // Corners and planes from a view x projection; a singular matrix has no
    // inverse and leaves the frustum as it was.
    static void ComputeFrustum(const OrvaMatrix& viewProjection);

    OrvaMatrix projection;
    OrvaMatrix view;
    OrvaMatrix viewProjection;
    // front, up, right and position come from OrvaAxes.
    float nearClip = 0.0f;   // world units
    float farClip = 0.0f;    // world units
    float aspect = 0.0f;     // width / height
    float fov = 0.0f;        // vertical, radians
};
