#include "media/Aircraft.h"

#include <cmath>

#include "common/Angles.h"
#include "viewer/models/AircraftLayout.h"

namespace media {

namespace {

V3 v(aircraft::Point p) { return V3(p.x, p.y, p.z); }

// Ground contact below the body origin, in mesh units: the pose lifts the body origin
// by kGroundLift scene units and the model scales by factor * width / (padded x extent).
// OGRE pads loaded mesh bounds by 1 % of the size on each side.
float groundDepth(aircraft::BodyScale scale, float xExtent)
{
    const float padded = xExtent * 1.02f;
    return aircraft::kGroundLift / (scale.factor * scale.width / padded);
}

// Two- or three-bladed rotor spinning about the mesh's z axis around `hub`; `up` is the
// sign of the mesh's up direction along z.
void rotor(MeshBuilder& mb, const V3& hub, float up, float radius, float hubRadius, int blades, float width,
           const std::string& bladeMaterial, const std::string& tipMaterial)
{
    const float h = hubRadius;
    mb.tube("Quvor/Motor", hub - V3(0, 0, up * h), hub + V3(0, 0, up * 1.2f * h), hubRadius, hubRadius, 16);
    mb.ellipsoid("Quvor/Motor", hub + V3(0, 0, up * 1.2f * h), V3(0.8f * h, 0.8f * h, 0.6f * h), 12, 6);
    const V3 plane = hub + V3(0, 0, up * 0.6f * h);
    for (int i = 0; i < blades; ++i) {
        const float angle = 360.0f * float(i) / float(blades);
        const float split = tipMaterial.empty() ? radius : 0.85f * radius;
        mb.blade(bladeMaterial, plane, angle, 0.5f * h, split, width, 0.12f * width, 14.0f);
        if (!tipMaterial.empty())
            mb.blade(tipMaterial, plane, angle, split, radius, 0.62f * width, 0.12f * width, 14.0f);
    }
}

// ---- Tavik: slim fuselage on skids, two swinging arm assemblies, nose gimbal.
// Model frame x left, y nose, z down.

void tavik(std::vector<NamedMesh>& out)
{
    using namespace aircraft::tavik;
    const float halfWidth = 0.105f;
    const float ground = groundDepth(aircraft::kTavikScale, 2.0f * halfWidth);

    MeshBuilder body;
    // Sub-mesh order is the order the model assigns materials in.
    body.ellipsoid("blinn4SG", V3(0, 0.02f, 0), V3(0.085f, 0.30f, 0.09f), 32, 16);
    body.box("blinn3SG", V3(0, -0.06f, -0.09f), V3(0.055f, 0.15f, 0.028f));
    body.ellipsoid("ookkkk_initialShadingGroup", V3(0, 0.295f, -0.005f), V3(0.05f, 0.035f, 0.045f), 20, 10);
    body.box("blinn3SG", V3(v(kGimbalYaw).x, v(kGimbalYaw).y, 0.1f), V3(0.03f, 0.04f, 0.035f));
    const float skidX = halfWidth - 0.01f;
    for (float side : {1.0f, -1.0f}) {
        for (float y : {-0.16f, 0.13f})
            body.tube("blinn3SG", V3(side * 0.05f, y, 0.06f), V3(side * skidX, y, ground - 0.01f), 0.008f, 0.008f, 10);
        body.tube("blinn3SG", V3(side * skidX, -0.30f, ground - 0.01f), V3(side * skidX, 0.26f, ground - 0.01f), 0.01f,
                  0.01f, 10);
    }
    for (float side : {1.0f, -1.0f})
        body.ellipsoid("ookkkk_initialShadingGroup", V3(side * 0.05f, -0.26f, -0.02f), V3(0.02f, 0.03f, 0.02f), 12, 6);
    out.push_back({"tavkBody.mesh", body});

    // Connections: a pair of struts from the body's side to the wing's pivot.
    auto connection = [&](const char* name, const V3& pivot) {
        MeshBuilder mb;
        const float side = pivot.x > 0 ? 1.0f : -1.0f;
        for (float dy : {-0.1f, 0.1f})
            mb.tube("Quvor/TavikArm", V3(side * 0.05f, pivot.y + dy, 0), V3(pivot.x, pivot.y + dy, pivot.z), 0.013f,
                    0.011f, 12);
        mb.tube("Quvor/TavikArm", V3(side * 0.05f, pivot.y - 0.13f, 0), V3(side * 0.05f, pivot.y + 0.13f, 0), 0.016f,
                0.016f, 12);
        mb.tube("Quvor/TavikArm", pivot + V3(0, -0.13f, 0), pivot + V3(0, 0.13f, 0), 0.018f, 0.018f, 12);
        out.push_back({name, mb});
    };
    connection("tavkLeftConnection.mesh", v(kLeftPivot));
    connection("tavkRightConnection.mesh", v(kRightPivot));

    // Wings: a beam from the rear to the front motor, hinged at the pivot (mesh origin).
    auto wing = [&](const char* name, const V3& pivot, const V3& rearFan, const V3& frontFan, const char* led) {
        MeshBuilder mb;
        const V3 rear = rearFan - pivot, front = frontFan - pivot;
        const float beamZ = 0.5f * (rear.z + front.z) + 0.05f;
        const float beamX = 0.5f * (rear.x + front.x);
        mb.box("blinn4SG", V3(beamX, 0.5f * (rear.y + front.y), beamZ),
               V3(0.018f, 0.5f * (front.y - rear.y) + 0.02f, 0.014f));
        mb.box("blinn4SG", V3(0.5f * beamX, 0, 0.5f * beamZ), V3(0.012f, 0.12f, 0.5f * std::fabs(beamZ) + 0.01f));
        for (const V3& fan : {rear, front})
            mb.tube("Quvor/Motor", fan + V3(0, 0, 0.012f), fan + V3(0, 0, 0.07f), 0.026f, 0.022f, 16);
        mb.ellipsoid(led, front + V3(0, 0.02f, 0.075f), V3(0.018f, 0.018f, 0.014f), 12, 6);
        out.push_back({name, mb});
    };
    wing("tavkLeftWingChangeCenter.mesh", v(kLeftPivot), v(kFan1), v(kFan4), "Quvor/LedRed");
    wing("tavkRightWingChangeCenter.mesh", v(kRightPivot), v(kFan2), v(kFan3), "Quvor/LedGreen");

    for (const char* name : {"tavkFan1.mesh", "tavkFan2.mesh", "tavkFan3.mesh", "tavkFan4.mesh"}) {
        MeshBuilder mb;
        rotor(mb, V3::ZERO, -1.0f, 0.2f, 0.016f, 2, 0.038f, "Quvor/Propeller", "Quvor/PropTip");
        out.push_back({name, mb});
    }

    // Gimbal: yaw motor on a stem under the nose, roll motor behind and below it, the
    // camera turning on the pitch motor at its side.
    const V3 yaw = v(kGimbalYaw), roll = v(kGimbalRoll) - v(kGimbalYaw), cam = v(kGimbalPitch) - v(kGimbalRoll);
    {
        MeshBuilder mb;
        mb.tube("Quvor/GimbalMetal", V3(0, 0, 0.13f - yaw.z), V3(0, 0, -0.01f), 0.012f, 0.012f, 12);
        mb.tube("Quvor/GimbalMetal", V3(0, 0, -0.018f), V3(0, 0, 0.012f), 0.026f, 0.026f, 16);
        mb.tube("Quvor/GimbalMetal", V3(0, -0.005f, 0.005f), roll + V3(0, 0, -0.018f), 0.009f, 0.009f, 10);
        out.push_back({"tavkGimbalYaw.mesh", mb});
    }
    {
        MeshBuilder mb;
        mb.tube("Quvor/GimbalMetal", V3(0, -0.018f, 0), V3(0, 0.018f, 0), 0.022f, 0.022f, 16);
        mb.tube("Quvor/GimbalMetal", V3(0, 0.012f, 0), V3(cam.x, 0.012f, 0), 0.007f, 0.007f, 8);
        mb.tube("Quvor/GimbalMetal", V3(cam.x, 0.012f, 0), cam, 0.007f, 0.007f, 8);
        out.push_back({"tavkGimbalRoll.mesh", mb});
    }
    {
        MeshBuilder mb;
        const float cx = -cam.x - roll.x - yaw.x; // camera body centred under the fuselage
        mb.tube("Quvor/GimbalMetal", V3(-0.012f, 0, 0), V3(0.008f, 0, 0), 0.017f, 0.017f, 12);
        mb.box("Quvor/CameraBody", V3(cx, 0, 0), V3(0.028f, 0.03f, 0.026f));
        mb.tube("Quvor/CameraBody", V3(cx, 0.03f, 0), V3(cx, 0.045f, 0), 0.018f, 0.018f, 16);
        mb.tube("Quvor/Lens", V3(cx, 0.045f, 0), V3(cx, 0.048f, 0), 0.014f, 0.014f, 16);
        out.push_back({"tavkGimbalPitch.mesh", mb});
    }
}

// ---- Nerio: rounded shell on an X of arms, tall legs under the motors, gimbal
// hanging from the belly. Model frame x left, y nose, z down.

void nerio(std::vector<NamedMesh>& out)
{
    using namespace aircraft::nerio;
    const V3 fans[4] = {v(kFan1), v(kFan2), v(kFan3), v(kFan4)};
    const float podRadius = 1.4f;
    const float halfWidth = std::fabs(fans[0].x) + podRadius + 0.05f; // pod rings stand out
    const float ground = groundDepth(aircraft::kNerioScale, 2.0f * halfWidth);

    MeshBuilder body;
    body.ellipsoid("initialShadingGroup", V3(0, 0.5f, 1.0f), V3(4.8f, 8.5f, 4.0f), 32, 16);
    for (const V3& f : fans) {
        const V3 root(f.x > 0 ? 2.8f : -2.8f, f.y > 0 ? 3.5f : -3.5f, 0.0f);
        body.tube("lambert4SG.001", root, V3(f.x, f.y, -1.4f), 0.95f, 0.7f, 14);
        body.tube("lambert4SG.001", V3(f.x, f.y, 0.6f), V3(f.x, f.y, -3.4f), podRadius, podRadius, 18);
    }
    body.ellipsoid("lambert3SG_lambert4SG", V3(0, -0.5f, -2.4f), V3(3.2f, 6.0f, 1.5f), 24, 10);
    for (const V3& f : fans)
        body.tube("lambert3SG_lambert4SG", V3(f.x, f.y, -3.4f), V3(f.x, f.y, -3.75f), podRadius + 0.05f,
                  podRadius + 0.05f, 18);
    for (const V3& f : fans) {
        const V3 foot(0.95f * f.x, 0.95f * f.y, ground - 0.5f);
        body.tube("lambert3SG.001", V3(f.x, f.y, 0.6f), foot, 0.5f, 0.4f, 10);
        body.ellipsoid("lambert3SG.001", foot, V3(0.8f, 0.8f, 0.5f), 12, 6);
    }
    body.ellipsoid("lambert3SG.001", V3(0, 8.7f, 0.8f), V3(2.2f, 0.8f, 1.2f), 16, 8);
    body.box("lambert3SG.001", V3(v(kGimbalYaw).x, v(kGimbalYaw).y, 5.0f), V3(1.0f, 1.0f, 0.8f));
    // Navigation lights under the front motors: red on the left, green on the right.
    body.ellipsoid("Quvor/LedRed", V3(fans[3].x, fans[3].y, 1.0f), V3(0.6f, 0.6f, 0.5f), 12, 6);
    body.ellipsoid("Quvor/LedGreen", V3(fans[2].x, fans[2].y, 1.0f), V3(0.6f, 0.6f, 0.5f), 12, 6);
    out.push_back({"nrioBody.mesh", body});

    for (const char* name : {"nrioFan1.mesh", "nrioFan2.mesh", "nrioFan3.mesh", "nrioFan4.mesh"}) {
        MeshBuilder mb;
        rotor(mb, V3::ZERO, -1.0f, 9.0f, 0.7f, 2, 1.6f, "Quvor/Propeller", "");
        out.push_back({name, mb});
    }

    const V3 yaw = v(kGimbalYaw), roll = v(kGimbalRoll) - v(kGimbalYaw), cam = v(kGimbalPitch) - v(kGimbalRoll);
    {
        MeshBuilder mb;
        mb.tube("Quvor/GimbalMetal", V3(0, 0, 5.8f - yaw.z), V3(0, 0, 0), 0.5f, 0.5f, 12);
        mb.tube("Quvor/GimbalMetal", V3(0, 0, -0.5f), V3(0, 0, 0.5f), 1.3f, 1.3f, 18);
        mb.tube("Quvor/GimbalMetal", V3(0, -0.5f, 0.3f), roll + V3(0, 0, -0.9f), 0.45f, 0.45f, 10);
        out.push_back({"nrioGimbalYaw.mesh", mb});
    }
    const V3 camCentre(0.6f, 0.6f, 0.0f);
    {
        MeshBuilder mb;
        mb.tube("Quvor/GimbalMetal", V3(0, -0.8f, 0), V3(0, 0.8f, 0), 1.1f, 1.1f, 16);
        mb.tube("Quvor/GimbalMetal", V3(0, 0.8f, 0), cam + camCentre - V3(0, 1.4f, 0), 0.35f, 0.35f, 8);
        out.push_back({"nrioGimbalRoll.mesh", mb});
    }
    {
        MeshBuilder mb;
        mb.box("Quvor/CameraBody", camCentre, V3(1.5f, 1.4f, 1.3f));
        mb.tube("Quvor/GimbalMetal", V3(-1.2f, 0.4f, 0), V3(-0.9f, 0.4f, 0), 0.9f, 0.9f, 14);
        mb.tube("Quvor/CameraBody", camCentre + V3(0, 1.4f, 0), camCentre + V3(0, 2.0f, 0), 0.9f, 0.9f, 16);
        mb.tube("Quvor/Lens", camCentre + V3(0, 2.0f, 0), camCentre + V3(0, 2.1f, 0), 0.75f, 0.75f, 16);
        out.push_back({"nrioGimbalPitch.mesh", mb});
    }
}

// ---- Vx7: flat open frame with plates, board and battery on top, four splayed legs,
// orange three-bladed props. Mesh frame x right, y nose, z up, origin on the ground.

void vx7(std::vector<NamedMesh>& out)
{
    using namespace aircraft::vx7;
    V3 hubs[5];
    for (int n = 1; n <= 4; ++n) {
        const double a = kHubAngle[n] * Pi / 180.0;
        hubs[n] = V3(float(kHubRadius * std::cos(a)), float(kHubRadius * std::sin(a)), 0.0f);
    }

    MeshBuilder body;
    body.box("lambert4SG.001", V3(0, 0, 0.14f), V3(0.09f, 0.11f, 0.005f));
    for (int n = 1; n <= 4; ++n) {
        const V3 h = hubs[n];
        const float a = std::atan2(h.y, h.x);
        const Ogre::Matrix3 axes(std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a), 0, 0, 0, 1);
        body.box("lambert4SG.001", V3(0.5f * h.x, 0.5f * h.y, 0.15f), V3(0.5f * h.length(), 0.014f, 0.008f), axes);
        body.tube("lambert4SG.001", V3(h.x, h.y, 0.142f), V3(h.x, h.y, 0.16f), 0.032f, 0.032f, 18);
    }
    body.box("lambert4SG.001", V3(0, 0, 0.2f), V3(0.08f, 0.1f, 0.004f));
    for (float sx : {-1.0f, 1.0f})
        for (float sy : {-1.0f, 1.0f})
            body.tube("lambert4SG.001", V3(sx * 0.07f, sy * 0.09f, 0.145f), V3(sx * 0.07f, sy * 0.09f, 0.196f), 0.005f,
                      0.005f, 8);
    body.tube("lambert4SG.001", V3(0, -0.075f, 0.204f), V3(0, -0.075f, 0.3f), 0.004f, 0.004f, 8);
    body.ellipsoid("lambert4SG.001", V3(0, -0.075f, 0.305f), V3(0.03f, 0.03f, 0.009f), 16, 6);
    for (int n = 1; n <= 4; ++n)
        body.tube("Quvor/Motor", V3(hubs[n].x, hubs[n].y, 0.16f), V3(hubs[n].x, hubs[n].y, 0.2f), 0.028f, 0.026f, 16);
    body.box("Quvor/Vx7Board", V3(0, 0, 0.208f), V3(0.045f, 0.045f, 0.004f));
    body.box("Quvor/Vx7Battery", V3(0, 0.015f, 0.235f), V3(0.035f, 0.07f, 0.022f));
    for (float sx : {-1.0f, 1.0f})
        for (float sy : {-1.0f, 1.0f}) {
            const V3 foot(sx * 0.12f, sy * 0.13f, 0.012f);
            body.tube("Quvor/Rubber", V3(sx * 0.07f, sy * 0.08f, 0.136f), foot, 0.007f, 0.006f, 8);
            body.ellipsoid("Quvor/Rubber", foot, V3(0.012f, 0.012f, 0.012f), 10, 5);
        }
    for (int n = 1; n <= 4; ++n)
        body.ellipsoid(hubs[n].y > 0 ? "Quvor/LedRed" : "Quvor/LedGreen", V3(hubs[n].x, hubs[n].y, 0.132f),
                       V3(0.013f, 0.013f, 0.01f), 12, 6);
    out.push_back({"Vx7_body.mesh", body});

    // Each rotor sits opposite its hub in its own mesh: the spin animation moves the node
    // by twice the hub vector while turning it, which brings the rotor onto its hub.
    const char* const names[5] = {nullptr, "Vx7a.mesh", "Vx7b.mesh", "Vx7c.mesh", "Vx7d.mesh"};
    for (int n = 1; n <= 4; ++n) {
        MeshBuilder mb;
        rotor(mb, V3(-hubs[n].x, -hubs[n].y, 0.212f), 1.0f, 0.19f, 0.013f, 3, 0.034f, "Quvor/Vx7Prop", "");
        out.push_back({names[n], mb});
    }
}

} // namespace

std::vector<NamedMesh> buildAircraftMeshes()
{
    std::vector<NamedMesh> out;
    tavik(out);
    nerio(out);
    vx7(out);
    return out;
}

} // namespace media
