// Checks of connectivity settings, shared by the scene's connect calls and the analysis
// parameters so that both refuse the same values with the same messages.
#pragma once

#include <blob/blobdesc.h>

// kf_CheckScaleValue(scaleVal): throws kcBlobDefs::BadParams when scaleVal is 0.
void kf_CheckScaleValue(unsigned char scaleVal);

// kf_CheckMinPels(minPels): throws kcBlobDefs::BadParams when minPels is below 0 and
// kcBadArgument when it is above 2^31 - 1.
void kf_CheckMinPels(long minPels);

// kf_CheckConnectSettings(kind, scaleVal, cleanup, minPels): refuses, in order and with
// kcBlobDefs::BadParams unless stated: a cleanup with eWholeImageGreyScale, scaleVal 0 when kind is
// not eLabelled, a cleanup outside the enumeration (kcBadArgument), a cleanup with minPels below 0,
// and a cleanup with minPels above 2^31 - 1 (kcBadArgument). minPels is not looked at without a
// cleanup, nor kind beyond the tests above. Changes nothing.
void kf_CheckConnectSettings(kcBlobSceneDescription::Analysis kind, unsigned char scaleVal,
                             kcBlobSceneDescription::ConnectCleanup cleanup, long minPels);
