#include "camera/SensorTools.h"

namespace norvale {

namespace {

std::shared_ptr<CameraTool> finish(std::unique_ptr<CameraTool::Impl> impl, CameraTool::Impl::Accept accept) {
    impl->setAccept(std::move(accept));
    return std::make_shared<CameraTool>(std::move(impl));
}

void addSensorControls(const std::shared_ptr<SensorControls>& c, const ToolSetOptions& o,
                       std::vector<std::shared_ptr<CameraTool>>& tools) {
    auto biases = std::make_unique<CameraTool::Impl>(TOOL_BIASES, "Biases", "Biases");
    biases->addInt("bias_diff_on", "ON contrast threshold: higher gives fewer ON events.", -85, 140, 0, "");
    biases->addInt("bias_diff_off", "OFF contrast threshold: higher gives fewer OFF events.", -85, 140, 0, "");
    biases->addInt("bias_refr", "Refractory period: higher gives fewer events per pixel after each event.", -20, 235, 0, "");
    biases->addInt("bias_fo", "Photoreceptor low-pass: higher responds faster and adds noise.", -35, 55, 0, "");
    biases->addInt("bias_hpf", "High-pass filter: higher removes slow changes, noise and trails.", 0, 120, 0, "");
    tools.push_back(finish(std::move(biases), [c](const ToolValues& v, std::string&) {
        BiasSettings s;
        s.diffOn = intOf(v, "bias_diff_on");
        s.diffOff = intOf(v, "bias_diff_off");
        s.refr = intOf(v, "bias_refr");
        s.fo = intOf(v, "bias_fo");
        s.hpf = intOf(v, "bias_hpf");
        c->biases.publish(s);
        return true;
    }));

    auto trig = std::make_unique<CameraTool::Impl>(TOOL_TRIGGER_IN, "Trigger In", "TirggerIn");
    trig->addBool("channel_0_enable", "Deliver and record the edges of trigger input 0.", o.trigger0Enabled);
    trig->addBool("channel_1_enable", "Deliver and record the edges of trigger input 1.", false);
    tools.push_back(finish(std::move(trig), [c](const ToolValues& v, std::string&) {
        TriggerSettings s;
        s.channel[0] = boolOf(v, "channel_0_enable");
        s.channel[1] = boolOf(v, "channel_1_enable");
        c->trigger.publish(s);
        return true;
    }));

}

void addProcessingTools(const std::shared_ptr<SensorControls>& c, const ToolSetOptions& o,
                        std::vector<std::shared_ptr<CameraTool>>& tools) {
    auto afk = std::make_unique<CameraTool::Impl>(TOOL_ANTI_FLICKER, "Anti Flicker", "AntiFlicker");
    afk->addBool("anti_flicker_enable", "Remove the events of pixels that blink in the frequency band.", false);
    afk->addInt("low_frequency", "Lowest blinking frequency of the band.", 1, 2000, 50, "Hz");
    afk->addInt("high_frequency", "Highest blinking frequency of the band.", 1, 2000, 520, "Hz");
    afk->addEnum("filtering_mode", "band stop removes the blinking pixels, band pass keeps only them.",
                 {"band stop", "band pass"}, "band stop");
    afk->addFloat("duty_cycle", "Share of each period the blinking light is on.", 1.0f, 99.0f, 50.0f, "%");
    tools.push_back(finish(std::move(afk), [c](const ToolValues& v, std::string& why) {
        AntiFlickerSettings s;
        s.enable = boolOf(v, "anti_flicker_enable");
        s.lowHz = intOf(v, "low_frequency");
        s.highHz = intOf(v, "high_frequency");
        if (s.lowHz > s.highHz) {
            why = "low_frequency must not exceed high_frequency";
            return false;
        }
        s.mode = textOf(v, "filtering_mode") == "band pass" ? AntiFlickerSettings::BandPass : AntiFlickerSettings::BandStop;
        s.dutyCycle = floatOf(v, "duty_cycle");
        c->antiFlicker.publish(s);
        return true;
    }));

    auto trail = std::make_unique<CameraTool::Impl>(TOOL_EVENT_TRAIL_FILTER, "Event Trail Filter", "EventTrailFilter");
    trail->addBool("trail_filter_enable", "Remove the bursts of events that follow a pixel's first event.", false);
    trail->addEnum("trail_filter_type",
                   "trail keeps a burst's first event; stc cut trail keeps its second; stc keep trail drops only lone events.",
                   {"trail", "stc cut trail", "stc keep trail"}, "trail");
    trail->addInt("trail_threshold", "Events of a pixel closer than this to its previous one belong to one burst.", 1,
                  100000, 10000, "us");
    tools.push_back(finish(std::move(trail), [c](const ToolValues& v, std::string&) {
        TrailSettings s;
        s.enable = boolOf(v, "trail_filter_enable");
        const std::string& t = textOf(v, "trail_filter_type");
        s.type = t == "stc cut trail" ? TrailSettings::StcCutTrail
                 : t == "stc keep trail" ? TrailSettings::StcKeepTrail
                                         : TrailSettings::Trail;
        s.thresholdUs = intOf(v, "trail_threshold");
        c->trail.publish(s);
        return true;
    }));

    auto erc = std::make_unique<CameraTool::Impl>(TOOL_EVENT_RATE_CONTROL, "Event Rate Control", "EventRateControl");
    erc->addBool("event_rate_control_enable", "Limit the event rate, dropping events evenly over the sensor.", false);
    erc->addInt("max_event_rate", "Most events in any millisecond, per second.", 10, 50000, 10000, "kev/s");
    tools.push_back(finish(std::move(erc), [c](const ToolValues& v, std::string&) {
        RateControlSettings s;
        s.enable = boolOf(v, "event_rate_control_enable");
        s.maxKevPerSecond = intOf(v, "max_event_rate");
        c->rate.publish(s);
        return true;
    }));

    const int w = int(o.width), h = int(o.height);
    auto roi = std::make_unique<CameraTool::Impl>(TOOL_ROI, "ROI", "ROI");
    roi->addBool("roi_enable", "Deliver only the events inside the window.", false);
    roi->addInt("roi_x", "Left column of the window.", 0, w - 1, 0, "px");
    roi->addInt("roi_y", "Top row of the window.", 0, h - 1, 0, "px");
    roi->addInt("roi_width", "Width of the window.", 1, w, w, "px");
    roi->addInt("roi_height", "Height of the window.", 1, h, h, "px");
    tools.push_back(finish(std::move(roi), [c, w, h](const ToolValues& v, std::string& why) {
        RoiSettings s;
        s.enable = boolOf(v, "roi_enable");
        s.x = intOf(v, "roi_x");
        s.y = intOf(v, "roi_y");
        s.width = intOf(v, "roi_width");
        s.height = intOf(v, "roi_height");
        // the window must fit the sensor: name the sum, since each value alone is in its range
        if (s.x + s.width > w) {
            why = "roi_x + roi_width must not exceed " + std::to_string(w);
            return false;
        }
        if (s.y + s.height > h) {
            why = "roi_y + roi_height must not exceed " + std::to_string(h);
            return false;
        }
        c->roi.publish(s);
        return true;
    }));

    if (o.aps) {
        auto aps = std::make_unique<CameraTool::Impl>(TOOL_APS, "APS", "APS");
        aps->addInt("exposure", "Exposure time of each APS frame.", 100, 50000, 10000, "us");
        aps->addFloat("gain", "Analog gain of the APS image.", 1.0f, 16.0f, 1.0f, "x");
        aps->addBool("auto_exposure", "Choose exposure and gain for a mid-grey image.", false);
        tools.push_back(finish(std::move(aps), [c](const ToolValues& v, std::string&) {
            ApsSettings s;
            s.exposureUs = intOf(v, "exposure");
            s.gain = floatOf(v, "gain");
            s.autoExposure = boolOf(v, "auto_exposure");
            c->aps.publish(s);
            return true;
        }));
    }
}

} // namespace

std::vector<std::shared_ptr<CameraTool>> makeSensorTools(const std::shared_ptr<SensorControls>& c,
                                                         const ToolSetOptions& o) {
    std::vector<std::shared_ptr<CameraTool>> tools;
    if (o.sensorControls) addSensorControls(c, o, tools);
    addProcessingTools(c, o, tools);
    return tools;
}

} // namespace norvale
