// The application's real parts for the panels' integration tests: the show controller, the
// playback controller with its output surface on real decoding, the clip importer and the audio
// engine on the null device (the test pulls its sound), with the panels' live facade on top.
// Virtual time moves in steps of the manual run loop.

#pragma once

#include "panels/live_panel_facade.h"
#include "support/live_show_fixture.h"
#include "ui_test_support.h"

namespace kestio::panels {

class LivePanelsRig : public test::LiveShowFixture {
  protected:
    LiveShowImporter& importer = rig.importer;
    LivePanelFacade facade{*show};

    void SetUp() override { test::setLanguage(AppLanguage::en); }
};

}  // namespace kestio::panels
