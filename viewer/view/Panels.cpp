#include "viewer/view/Panels.h"

#include <Bites/OgreTrays.h>
#include <OgrePass.h>
#include <OgreTechnique.h>

namespace {

Ogre::StringVector toStrings(const QStringList& list)
{
    Ogre::StringVector out;
    out.reserve(size_t(list.size()));
    for (const QString& s : list)
        out.push_back(s.toStdString());
    return out;
}

// Removed panels only leave the trays; the tray manager still owns them.
void takeOutOfTrays(OgreBites::TrayManager* trays, OgreBites::ParamsPanel* panel)
{
    panel->hide();
    trays->moveWidgetToTray(panel->getName(), OgreBites::TL_NONE, -1);
}

} // namespace

QString formatReplayTime(qint32 timeMs)
{
    const quint32 t = quint32(timeMs);
    const quint32 s = t / 1000;
    const quint32 minutes = s / 60;
    return QString::asprintf("%u:%02u.%03u", minutes, s - 60 * minutes, t % 1000);
}

bool panelRowsCurrent(const QStringList& shownNames, const QMap<QString, QString>& values)
{
    if (shownNames.size() != values.size())
        return false;
    for (const QString& name : shownNames)
        if (!values.contains(name))
            return false;
    return true;
}

ParamsOverlay::ParamsOverlay(std::string name) : mName(std::move(name)) { }

bool ParamsOverlay::update(OgreBites::TrayManager* trays, const QMap<QString, QString>& values,
                           const QStringList& order, bool playbackEnabled, qint32 timeMs)
{
    if (!trays)
        return false;
    const bool again = updateParams(trays, values, order);
    updateStatus(trays, playbackEnabled, timeMs);
    return again;
}

bool ParamsOverlay::updateParams(OgreBites::TrayManager* trays, const QMap<QString, QString>& values,
                                 const QStringList& order)
{
    if (mParamsPanel) {
        if (panelRowsCurrent(mShownNames, values)) {
            QStringList texts;
            for (const QString& name : qAsConst(mShownNames))
                texts.append(values.value(name));
            mParamsPanel->show();
            mParamsPanel->setAllParamValues(toStrings(texts));
            return false;
        }
        // The set of keys changed: the panel comes back with new rows on a later frame.
        takeOutOfTrays(trays, mParamsPanel);
        mParamsPanel = nullptr;
        mShownNames = order;
    }
    if (mShownNames.isEmpty()) {
        mShownNames = order;
        return !mShownNames.isEmpty();
    }
    ++mCount;
    mParamsPanel = trays->createParamsPanel(OgreBites::TL_NONE, mName + "/paraShow_" + std::to_string(mCount), 200,
                                            toStrings(mShownNames));
    trays->moveWidgetToTray(mParamsPanel, OgreBites::TL_BOTTOMLEFT, -1);
    // Its values are filled in the next frame.
    return true;
}

void ParamsOverlay::updateStatus(OgreBites::TrayManager* trays, bool playbackEnabled, qint32 timeMs)
{
    if (!playbackEnabled) {
        if (mStatusPanel) {
            takeOutOfTrays(trays, mStatusPanel);
            mStatusPanel = nullptr;
        }
        return;
    }
    if (!mStatusPanel) {
        ++mStatusCount;
        mStatusPanel = trays->createParamsPanel(OgreBites::TL_NONE, mName + "/status_" + std::to_string(mStatusCount),
                                                180, {"playback", "time"});
        trays->moveWidgetToTray(mStatusPanel, OgreBites::TL_TOPRIGHT, -1);
    }
    mStatusPanel->show();
    mStatusPanel->setAllParamValues({"on", formatReplayTime(timeMs).toStdString()});
}

void ParamsOverlay::updateFleet(OgreBites::TrayManager* trays, const std::vector<FleetRow>& rows)
{
    if (!trays)
        return;
    QStringList names;
    QStringList values;
    for (const FleetRow& row : rows) {
        names.append((row.followed ? QStringLiteral("> ") : QStringLiteral("  ")) + row.label);
        values.append(row.height + ' ' + row.status);
    }
    if (mFleetPanel && names != mFleetNames) {
        takeOutOfTrays(trays, mFleetPanel);
        mFleetPanel = nullptr;
    }
    mFleetNames = names;
    if (names.isEmpty())
        return;
    if (!mFleetPanel) {
        ++mFleetCount;
        mFleetPanel = trays->createParamsPanel(OgreBites::TL_NONE, mName + "/fleet_" + std::to_string(mFleetCount), 330,
                                               toStrings(names));
        mFleetPanel->getOverlayElement()->setHorizontalAlignment(Ogre::GHA_LEFT);
        mFleetPanel->getOverlayElement()->setVerticalAlignment(Ogre::GVA_BOTTOM);
        mFleetValues.clear();
        mFleetPanel->show();
    }
    // Beside the parameter panel's tray, on the floor of the window. Every move or
    // change of a caption lays the panel out again: only when they changed.
    Ogre::OverlayElement* element = mFleetPanel->getOverlayElement();
    const Ogre::OverlayContainer* tray = trays->getTrayContainer(OgreBites::TL_BOTTOMLEFT);
    const float left = mParamsPanel && tray->isVisible() ? tray->getLeft() + tray->getWidth() + 8 : 8;
    const float top = -element->getHeight() - 8;
    if (element->getLeft() != left || element->getTop() != top)
        element->setPosition(left, top);
    if (values != mFleetValues) {
        mFleetPanel->setAllParamValues(toStrings(values));
        mFleetValues = values;
    }
}

GlowMaterialListener::GlowMaterialListener()
{
    auto& groups = Ogre::ResourceGroupManager::getSingleton();
    if (!groups.resourceGroupExists("Internal"))
        groups.createResourceGroup("Internal");
    mBlackMat = Ogre::MaterialManager::getSingleton().create("mGlowBlack", "Internal");
    Ogre::Pass* pass = mBlackMat->getTechnique(0)->getPass(0);
    pass->setDiffuse(0, 0, 0, 0);
    pass->setSpecular(0, 0, 0, 0);
    pass->setAmbient(0, 0, 0);
    pass->setSelfIllumination(0, 0, 0);
}

GlowMaterialListener::~GlowMaterialListener() { mBlackMat.reset(); }

Ogre::Technique* GlowMaterialListener::handleSchemeNotFound(unsigned short, const Ogre::String& schemeName,
                                                            Ogre::Material*, unsigned short, const Ogre::Renderable*)
{
    if (schemeName != "glow")
        return nullptr;
    return mBlackMat->getTechnique(0);
}
