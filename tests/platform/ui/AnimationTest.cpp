#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "platform/foundation/Log.h"
#include "platform/ui/Animation.h"
#include "platform/ui/View.h"

using namespace platform;

namespace {

struct Stop {
    std::string name;
    bool finished;
};

class Animations : public uitest::UiTest {
protected:
    AnimationDidStop recorder() {
        return [this](const std::string& name, bool finished) { stops.push_back({name, finished}); };
    }
    std::vector<Stop> stops;
    std::shared_ptr<View> panel = std::make_shared<View>(Rect(0, 0, 320, 100));
};

} // namespace

TEST_F(Animations, TheModelChangesAtOnceAndTheAnimationIsRecorded) {
    View::beginAnimations("pass");
    View::setAnimationDuration(0.3);
    panel->setFrame(Rect(0, 120, 320, 100));
    View::commitAnimations();

    EXPECT_EQ(panel->frame(), Rect(0, 120, 320, 100)); // no waiting for the model
    auto records = AnimationLog::shared().recordsFor(*panel);
    ASSERT_EQ(records.size(), 1u);
    const auto& r = records[0];
    EXPECT_EQ(r.kind, AnimationKind::Property);
    EXPECT_EQ(r.name, "pass");
    EXPECT_EQ(r.property, "frame");
    EXPECT_EQ(std::get<Rect>(r.from), Rect(0, 0, 320, 100));
    EXPECT_EQ(std::get<Rect>(r.to), Rect(0, 120, 320, 100));
    EXPECT_DOUBLE_EQ(r.duration, 0.3);
    EXPECT_EQ(r.state, AnimationState::Running);
}

TEST_F(Animations, ChangesOutsideABlockAreNotAnimations) {
    panel->setAlpha(0.5);
    panel->setCenter({1, 1});
    EXPECT_TRUE(AnimationLog::shared().records().empty());
}

TEST_F(Animations, DidStopComesAfterDelayPlusDurationTimesRepeats) {
    struct Case {
        const char* name;
        AnimationOptions options;
        double total;
    };
    auto make = [](double duration, double delay, double repeat, bool reverse) {
        AnimationOptions o;
        o.name = "x";
        o.duration = duration;
        o.delay = delay;
        o.repeatCount = repeat;
        o.autoreverses = reverse;
        return o;
    };
    const Case cases[] = {
        {"plain", make(0.5, 0, 0, false), 0.5},
        {"delayed", make(0.5, 0.3, 0, false), 0.8},
        {"repeated", make(0.2, 0, 3, false), 0.6},
        // The shake: 0.1 s, three times, forth and back.
        {"repeated with autoreverse", make(0.1, 0, 3, true), 0.6},
        {"fractional repeats", make(1.0, 0, 1.5, false), 1.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        stops.clear();
        auto v = std::make_shared<View>();
        View::animate(
            c.options, [&] { v->setAlpha(0.0); }, recorder());
        clock_.advance(c.total - 0.01);
        EXPECT_TRUE(stops.empty());
        clock_.advance(0.02);
        ASSERT_EQ(stops.size(), 1u);
        EXPECT_TRUE(stops[0].finished);
        EXPECT_EQ(AnimationLog::shared().recordsFor(*v).back().state, AnimationState::Finished);
    }
}

TEST_F(Animations, AnAnimationTakenOverStillReportsItsStopAsUnfinished) {
    View::animate(
        {"view", 1.0},
        [&] {
            panel->setCenter({160, 200});
        },
        recorder());
    clock_.advance(0.4);
    View::animate(
        {"pass", 0.3}, [&] { panel->setFrame(Rect(0, 0, 320, 100)); }, recorder());
    EXPECT_TRUE(stops.empty()); // not inside the new animation's call
    clock_.drain();
    ASSERT_EQ(stops.size(), 1u);
    EXPECT_EQ(stops[0].name, "view");
    EXPECT_FALSE(stops[0].finished);
    EXPECT_EQ(AnimationLog::shared().recordsNamed("view").front().state, AnimationState::Interrupted);

    clock_.advance(0.3);
    ASSERT_EQ(stops.size(), 2u);
    EXPECT_EQ(stops[1].name, "pass");
    EXPECT_TRUE(stops[1].finished);
    clock_.advance(5);
    EXPECT_EQ(stops.size(), 2u); // the interrupted one does not stop a second time
}

TEST_F(Animations, ABlockThatLosesOnlySomeOfItsPropertiesEndsOnTimeButUnfinished) {
    View::animate(
        {"both", 1.0},
        [&] {
            panel->setAlpha(0.0);
            panel->setCenter({0, 0});
        },
        recorder());
    View::animate(
        {"fade", 0.2}, [&] { panel->setAlpha(1.0); }, recorder());
    clock_.advance(0.2);
    ASSERT_EQ(stops.size(), 1u);
    EXPECT_EQ(stops[0].name, "fade");
    clock_.advance(0.8);
    ASSERT_EQ(stops.size(), 2u);
    EXPECT_EQ(stops[1].name, "both");
    EXPECT_FALSE(stops[1].finished);
}

TEST_F(Animations, DifferentViewsAndPropertiesDoNotInterruptEachOther) {
    auto other = std::make_shared<View>();
    View::animate(
        {"a", 0.5}, [&] { panel->setAlpha(0.0); }, recorder());
    View::animate(
        {"b", 0.5}, [&] { other->setAlpha(0.0); }, recorder());
    View::animate(
        {"c", 0.5}, [&] { panel->setTransform(AffineTransform::makeScale(2, 2)); }, recorder());
    clock_.advance(0.5);
    ASSERT_EQ(stops.size(), 3u);
    for (const auto& s : stops)
        EXPECT_TRUE(s.finished) << s.name;
}

TEST_F(Animations, TwoChangesOfOnePropertyInABlockMakeOneAnimation) {
    View::beginAnimations("Blink");
    panel->setAlpha(0.2);
    panel->setAlpha(0.7);
    View::setAnimationDuration(1.0); // settings given after the changes still apply
    View::commitAnimations();
    auto records = AnimationLog::shared().recordsFor(*panel, "alpha");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_DOUBLE_EQ(std::get<double>(records[0].from), 1.0);
    EXPECT_DOUBLE_EQ(std::get<double>(records[0].to), 0.7);
    EXPECT_DOUBLE_EQ(records[0].duration, 1.0);
}

TEST_F(Animations, AnEmptyBlockAndADisabledOneStillStopOnTheNextTurn) {
    View::animate(
        {"empty", 5}, [] {}, recorder());
    View::setAnimationsEnabled(false);
    View::animate(
        {"off", 5}, [&] { panel->setAlpha(0); }, recorder());
    View::setAnimationsEnabled(true);
    EXPECT_DOUBLE_EQ(panel->alpha(), 0);
    EXPECT_TRUE(AnimationLog::shared().recordsFor(*panel).empty());
    clock_.drain();
    ASSERT_EQ(stops.size(), 2u);
    EXPECT_TRUE(stops[0].finished);
    EXPECT_TRUE(stops[1].finished);
}

TEST_F(Animations, ViewTransitionsAreRecordedWithTheirBlock) {
    auto slot = std::make_shared<View>(Rect(0, 0, 320, 53));
    auto oldAd = std::make_shared<View>(Rect(0, 0, 320, 53));
    auto newAd = std::make_shared<View>(Rect(0, 0, 320, 53));
    slot->addSubview(oldAd);
    View::beginAnimations("SwitchboardAdTransition", "old");
    View::setAnimationDuration(1.0);
    View::setAnimationBeginsFromCurrentState(true);
    View::setAnimationDidStop(recorder());
    slot->addSubview(newAd);
    oldAd->removeFromSuperview();
    View::setAnimationTransition(ViewAnimationTransition::CurlUp, *slot, false);
    View::commitAnimations();

    auto r = AnimationLog::shared().last();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->kind, AnimationKind::ViewTransition);
    EXPECT_EQ(r->transitionType, "curlUp");
    EXPECT_EQ(r->context, "old");
    EXPECT_TRUE(r->beginsFromCurrentState);
    EXPECT_EQ(r->view.lock(), slot);
    clock_.advance(1.0);
    ASSERT_EQ(stops.size(), 1u);
    EXPECT_EQ(stops[0].name, "SwitchboardAdTransition");
}

TEST_F(Animations, LayerTransitionsAreRecordedAndReplacedByKey) {
    std::vector<bool> finished;
    auto push = LayerAnimation::transition("push", "fromLeft", 0.5);
    push->didStop = [&](LayerAnimation& a, bool f) {
        EXPECT_EQ(a.type, "push");
        finished.push_back(f);
    };
    panel->layer().addAnimation(push, "animation");
    auto r = AnimationLog::shared().last();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->kind, AnimationKind::LayerTransition);
    EXPECT_EQ(r->transitionType, "push");
    EXPECT_EQ(r->transitionSubtype, "fromLeft");
    EXPECT_DOUBLE_EQ(r->duration, 0.5);
    EXPECT_EQ(r->name, "animation");
    EXPECT_NE(panel->layer().animationForKey("animation"), nullptr);

    // The same key again: the first stops unfinished, the second runs to its end.
    auto fade = LayerAnimation::transition("fade", "", 0.3);
    fade->didStop = [&](LayerAnimation&, bool f) { finished.push_back(f); };
    panel->layer().addAnimation(fade, "animation");
    clock_.drain();
    EXPECT_EQ(finished, (std::vector<bool>{false}));
    clock_.advance(0.3);
    EXPECT_EQ(finished, (std::vector<bool>{false, true}));
    EXPECT_EQ(panel->layer().animationForKey("animation"), nullptr);
}

TEST_F(Animations, LayerAnimationsOfAViewThatGoesAwayStillStop) {
    bool stopped = false, finished = true;
    {
        auto v = std::make_shared<View>();
        auto a = LayerAnimation::basic("opacity", 0.0, 1.0, 2.0);
        a->didStop = [&](LayerAnimation&, bool f) {
            stopped = true;
            finished = f;
        };
        v->layer().addAnimation(a, "fade");
    }
    clock_.drain();
    EXPECT_TRUE(stopped);
    EXPECT_FALSE(finished);
    clock_.advance(3);
}

TEST_F(Animations, AnExceptionInTheChangesStillClosesTheBlock) {
    EXPECT_THROW(View::animate(AnimationOptions("boom"), [] { throw std::runtime_error("x"); }),
                 std::runtime_error);
    EXPECT_FALSE(View::isInAnimationBlock());
}

TEST_F(Animations, AnExceptionInADidStopStaysInsideTheRunLoop) {
    View::animate(
        {"", 0.1}, [&] { panel->setAlpha(0); },
        [](const std::string&, bool) { throw std::runtime_error("did-stop failed"); });
    LogCapture log;
    EXPECT_NO_THROW(clock_.advance(0.1));
    EXPECT_TRUE(log.contains("did-stop failed"));
}
