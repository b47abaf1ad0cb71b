#pragma once

// Output windows that record what was asked of them instead of showing anything.

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "platform/ui/output_window.h"

namespace kestio::test {

// What happened to one fake window; kept by the factory after the window is destroyed.
struct FakeOutputWindowRecord {
    platform::ScreenDescriptor screen;
    std::shared_ptr<platform::Layer> root;
    std::function<void(platform::SizeF)> onLayout;
    std::shared_ptr<platform::SharedCompositions> shared;
    platform::SizeF size;
    int timesShown = 0;
    int timesClosed = 0;
    bool visible = false;
    bool destroyed = false;
};

class FakeOutputWindow final : public platform::OutputWindow {
  public:
    explicit FakeOutputWindow(std::shared_ptr<FakeOutputWindowRecord> record)
        : record_(std::move(record)) {}
    ~FakeOutputWindow() override { record_->destroyed = true; }

    void setContent(std::shared_ptr<platform::Layer> root,
                    std::function<void(platform::SizeF)> onLayout,
                    std::shared_ptr<platform::SharedCompositions> shared) override {
        record_->shared = std::move(shared);
        record_->root = std::move(root);
        record_->onLayout = std::move(onLayout);
        layOut();
    }
    platform::SizeF contentSize() const override { return record_->size; }
    void orderFrontRegardless() override {
        ++record_->timesShown;
        record_->visible = true;
    }
    void close() override {
        ++record_->timesClosed;
        record_->visible = false;
    }
    void afterNextPicture(std::function<void()> then) override { then(); }

    // As if the window had been resized to `size`.
    void resize(platform::SizeF size) {
        record_->size = size;
        layOut();
    }

  private:
    void layOut() {
        if (record_->root) {
            record_->root->setFrame({0, 0, record_->size.width, record_->size.height});
        }
        if (record_->onLayout) {
            record_->onLayout(record_->size);
        }
    }

    std::shared_ptr<FakeOutputWindowRecord> record_;
};

// Makes fake windows the size of their screen; screens whose id is in `gone` get none.
class FakeOutputWindowFactory {
  public:
    std::vector<std::shared_ptr<FakeOutputWindowRecord>> made;
    std::set<std::uint32_t> gone;

    platform::OutputWindowFactory factory() {
        return [this](const platform::ScreenDescriptor& screen)
                   -> std::unique_ptr<platform::OutputWindow> {
            if (gone.count(screen.id) != 0) {
                return nullptr;
            }
            auto record = std::make_shared<FakeOutputWindowRecord>();
            record->screen = screen;
            record->size = {double(screen.geometry.width()), double(screen.geometry.height())};
            made.push_back(record);
            return std::make_unique<FakeOutputWindow>(record);
        };
    }
};

}  // namespace kestio::test
