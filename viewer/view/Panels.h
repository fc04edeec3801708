#pragma once

#include <OgreMaterialManager.h>

#include <QMap>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

namespace OgreBites {
class ParamsPanel;
class TrayManager;
} // namespace OgreBites

// Replay time as m:ss.mmm; minutes are not wrapped into hours.
QString formatReplayTime(qint32 timeMs);

// True when the panel's rows still name exactly the keys of values.
bool panelRowsCurrent(const QStringList& shownNames, const QMap<QString, QString>& values);

// One aircraft in the fleet list.
struct FleetRow {
    QString label;
    QString height;
    QString status;
    bool followed = false;
};

// The two on-screen panels of a main window: the parameter panel (bottom left)
// with the latest state's values, and the status panel (top right) while the
// states come from a replay. Brought up to date once per frame.
class ParamsOverlay {
public:
    // name: "QuvorSimulator/Context/<n>/", also the prefix of the aircraft's nodes.
    explicit ParamsOverlay(std::string name);

    // True when the panels change again in the next frame (a parameter panel whose
    // rows went stale is rebuilt one frame later).
    bool update(OgreBites::TrayManager* trays, const QMap<QString, QString>& values, const QStringList& order,
                bool playbackEnabled, qint32 timeMs);

    // The fleet list beside the parameter panel: one row per aircraft, shown
    // while there are rows.
    void updateFleet(OgreBites::TrayManager* trays, const std::vector<FleetRow>& rows);

    const std::string& name() const { return mName; }
    OgreBites::ParamsPanel* fleetPanel() const { return mFleetPanel; }
    OgreBites::ParamsPanel* paramsPanel() const { return mParamsPanel; }
    OgreBites::ParamsPanel* statusPanel() const { return mStatusPanel; }

private:
    bool updateParams(OgreBites::TrayManager* trays, const QMap<QString, QString>& values, const QStringList& order);
    void updateStatus(OgreBites::TrayManager* trays, bool playbackEnabled, qint32 timeMs);

    QStringList mShownNames;
    int mCount = 0;
    int mStatusCount = 0;
    std::string mName;
    OgreBites::ParamsPanel* mStatusPanel = nullptr;
    OgreBites::ParamsPanel* mParamsPanel = nullptr;
    OgreBites::ParamsPanel* mFleetPanel = nullptr;
    QStringList mFleetNames;
    QStringList mFleetValues;
    int mFleetCount = 0;
};

// Makes every material without a technique for the "glow" scheme render black
// in the glow compositor's pass, so only glowing materials light up.
class GlowMaterialListener : public Ogre::MaterialManager::Listener {
public:
    GlowMaterialListener();
    ~GlowMaterialListener() override;

    Ogre::Technique* handleSchemeNotFound(unsigned short schemeIndex, const Ogre::String& schemeName,
                                          Ogre::Material* originalMaterial, unsigned short lodIndex,
                                          const Ogre::Renderable* rend) override;

private:
    Ogre::MaterialPtr mBlackMat;
};
