#pragma once
// Interface and device orientations, with the platform's numbers. Note that the interface's
// landscape-left (4) is the device's landscape-right (4) turned the other way: the
// interface turns against the device.
namespace platform {

enum class InterfaceOrientation {
    Portrait = 1,
    PortraitUpsideDown = 2,
    LandscapeLeft = 4,
    LandscapeRight = 3,
};

enum class DeviceOrientation {
    Unknown = 0,
    Portrait = 1,
    PortraitUpsideDown = 2,
    LandscapeLeft = 3,
    LandscapeRight = 4,
    FaceUp = 5,
    FaceDown = 6,
};

inline bool isPortrait(InterfaceOrientation o) {
    return o == InterfaceOrientation::Portrait || o == InterfaceOrientation::PortraitUpsideDown;
}
inline bool isLandscape(InterfaceOrientation o) {
    return !isPortrait(o);
}
inline bool isLandscape(DeviceOrientation o) {
    return o == DeviceOrientation::LandscapeLeft || o == DeviceOrientation::LandscapeRight;
}
// The interface orientation that follows a device orientation; portrait for face up, face
// down and unknown.
InterfaceOrientation interfaceOrientationFor(DeviceOrientation o);

} // namespace platform
