// The Tarnix frei0r filter in Shotcut: every setting in its own units, grouped as in the
// effect's own panel. The filter takes 0..1 across each slider's range, so a value v of a
// slider from minimum to maximum is sent as (v - minimum) / (maximum - minimum); fps is sent
// as it is. A new filter starts at the effect's defaults, with every stage off.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import Shotcut.Controls 1.0 as Shotcut

Item {
    id: root

    readonly property var parameters: [
        { name: 'doFading', label: qsTr('Apply Fading'), group: '', kind: 'bool', minimum: 0, maximum: 1, defaultValue: 0 },
        { name: 'fadeAmount', label: qsTr('Amount'), group: qsTr('Fade'), kind: 'int', minimum: 0, maximum: 200, defaultValue: 100 },
        { name: 'doFunk', label: qsTr('Apply Funk'), group: '', kind: 'bool', minimum: 0, maximum: 1, defaultValue: 0 },
        { name: 'funkOpacity', label: qsTr('Opacity'), group: qsTr('Funk'), kind: 'double', minimum: 0, maximum: 100, defaultValue: 15 },
        { name: 'doSplotches', label: qsTr('Apply Splotches'), group: '', kind: 'bool', minimum: 0, maximum: 1, defaultValue: 0 },
        { name: 'splotchNumber', label: qsTr('Number'), group: qsTr('Splotches'), kind: 'int', minimum: 0, maximum: 100, defaultValue: 3 },
        { name: 'splotchesScale', label: qsTr('Scale'), group: qsTr('Splotches'), kind: 'double', minimum: 0.1, maximum: 5, defaultValue: 0.75 },
        { name: 'splotchesTransparency', label: qsTr('Transparency'), group: qsTr('Splotches'), kind: 'double', minimum: 0, maximum: 100, defaultValue: 30 },
        { name: 'splotchesFrequency', label: qsTr('Frequency'), group: qsTr('Splotches'), kind: 'double', minimum: 0, maximum: 100, defaultValue: 50 },
        { name: 'doDust', label: qsTr('Apply Dust'), group: '', kind: 'bool', minimum: 0, maximum: 1, defaultValue: 0 },
        { name: 'blackNumber', label: qsTr('Black Dust Amount'), group: qsTr('Dust'), kind: 'int', minimum: 0, maximum: 1000, defaultValue: 5 },
        { name: 'whiteNumber', label: qsTr('White Dust Amount'), group: qsTr('Dust'), kind: 'int', minimum: 0, maximum: 1000, defaultValue: 5 },
        { name: 'dustOpacity', label: qsTr('Opacity'), group: qsTr('Dust'), kind: 'double', minimum: 0, maximum: 1, defaultValue: 0.45 },
        { name: 'dustFreq', label: qsTr('Frequency'), group: qsTr('Dust'), kind: 'double', minimum: 0, maximum: 1, defaultValue: 0.6 },
        { name: 'doFlicker', label: qsTr('Apply Flicker'), group: '', kind: 'bool', minimum: 0, maximum: 1, defaultValue: 0 },
        { name: 'flickerFreq', label: qsTr('Frequency'), group: qsTr('Flicker'), kind: 'double', minimum: 0, maximum: 1, defaultValue: 0.5 },
        { name: 'flickerAmount', label: qsTr('Amount'), group: qsTr('Flicker'), kind: 'int', minimum: 0, maximum: 100, defaultValue: 10 },
        { name: 'doVignette', label: qsTr('Apply Vignette'), group: '', kind: 'bool', minimum: 0, maximum: 1, defaultValue: 0 },
        { name: 'vignetteSize', label: qsTr('Size'), group: qsTr('Vignette'), kind: 'double', minimum: 1, maximum: 100, defaultValue: 40 },
        { name: 'vignetteIntensity', label: qsTr('Intensity'), group: qsTr('Vignette'), kind: 'double', minimum: 0, maximum: 100, defaultValue: 70 },
        { name: 'doDisplacement', label: qsTr('Apply Displacement'), group: '', kind: 'bool', minimum: 0, maximum: 1, defaultValue: 0 },
        { name: 'displacementAmount', label: qsTr('Amount'), group: qsTr('Displacement'), kind: 'double', minimum: 0, maximum: 5, defaultValue: 0.5 },
        { name: 'doMicro', label: qsTr('Apply Microscratches'), group: '', kind: 'bool', minimum: 0, maximum: 1, defaultValue: 0 },
        { name: 'microNumber', label: qsTr('Number'), group: qsTr('Microscratches'), kind: 'int', minimum: 0, maximum: 5000, defaultValue: 2000 },
        { name: 'microOpacity', label: qsTr('Opacity'), group: qsTr('Microscratches'), kind: 'double', minimum: 0, maximum: 1, defaultValue: 0.75 },
        { name: 'doGrain', label: qsTr('Apply Grain'), group: '', kind: 'bool', minimum: 0, maximum: 1, defaultValue: 0 },
        { name: 'doColorNoise', label: qsTr('Color Noise'), group: qsTr('Grain'), kind: 'bool', minimum: 0, maximum: 1, defaultValue: 1 },
        { name: 'amountGrain', label: qsTr('Amount'), group: qsTr('Grain'), kind: 'double', minimum: 0, maximum: 1, defaultValue: 0.75 },
        { name: 'grainRed', label: qsTr('Red'), group: qsTr('Grain'), kind: 'double', minimum: 0, maximum: 100, defaultValue: 28.22 },
        { name: 'grainGreen', label: qsTr('Green'), group: qsTr('Grain'), kind: 'double', minimum: 0, maximum: 100, defaultValue: 35.54 },
        { name: 'grainBlue', label: qsTr('Blue'), group: qsTr('Grain'), kind: 'double', minimum: 0, maximum: 100, defaultValue: 100 },
        { name: 'softnessRed', label: qsTr('Softness Red'), group: qsTr('Grain'), kind: 'double', minimum: 0, maximum: 10, defaultValue: 0.1 },
        { name: 'softnessGreen', label: qsTr('Softness Green'), group: qsTr('Grain'), kind: 'double', minimum: 0, maximum: 10, defaultValue: 0.2 },
        { name: 'softnessBlue', label: qsTr('Softness Blue'), group: qsTr('Grain'), kind: 'double', minimum: 0, maximum: 10, defaultValue: 0.4 },
        { name: 'suppressBlack', label: qsTr('Suppress Black'), group: qsTr('Grain'), kind: 'double', minimum: 0, maximum: 100, defaultValue: 20 },
        { name: 'suppressWhite', label: qsTr('Suppress White'), group: qsTr('Grain'), kind: 'double', minimum: 0, maximum: 100, defaultValue: 10 },
        { name: 'doDeepScratch', label: qsTr('Apply DeepScratch'), group: '', kind: 'bool', minimum: 0, maximum: 1, defaultValue: 0 },
        { name: 'deepScratchNumber', label: qsTr('Number'), group: qsTr('Deep Scratches'), kind: 'int', minimum: 0, maximum: 50, defaultValue: 2 },
        { name: 'deepScratchDuration', label: qsTr('Duration'), group: qsTr('Deep Scratches'), kind: 'int', minimum: 1, maximum: 240, defaultValue: 48 },
        { name: 'deepScratchColorR', label: qsTr('Red'), group: qsTr('Deep Scratches > Color'), kind: 'double', minimum: 0, maximum: 255, defaultValue: 82 },
        { name: 'deepScratchColorG', label: qsTr('Green'), group: qsTr('Deep Scratches > Color'), kind: 'double', minimum: 0, maximum: 255, defaultValue: 255 },
        { name: 'deepScratchColorB', label: qsTr('Blue'), group: qsTr('Deep Scratches > Color'), kind: 'double', minimum: 0, maximum: 255, defaultValue: 18 },
        { name: 'doBasicScratch', label: qsTr('Apply BasicScratch'), group: '', kind: 'bool', minimum: 0, maximum: 1, defaultValue: 0 },
        { name: 'basicScratchNumber', label: qsTr('Number'), group: qsTr('Basic Scratches'), kind: 'int', minimum: 0, maximum: 50, defaultValue: 2 },
        { name: 'basicScratchDuration', label: qsTr('Duration'), group: qsTr('Basic Scratches'), kind: 'int', minimum: 1, maximum: 240, defaultValue: 48 },
        { name: 'doInvert', label: qsTr('Invert'), group: qsTr('Basic Scratches'), kind: 'bool', minimum: 0, maximum: 1, defaultValue: 1 },
        { name: 'doGateweave', label: qsTr('Apply Gateweave'), group: '', kind: 'bool', minimum: 0, maximum: 1, defaultValue: 0 },
        { name: 'gateweaveFrequency', label: qsTr('Weave Frequency'), group: qsTr('Gateweave'), kind: 'double', minimum: 0, maximum: 2, defaultValue: 0.25 },
        { name: 'gateweaveAmplitude', label: qsTr('Amplitude'), group: qsTr('Gateweave'), kind: 'double', minimum: 0, maximum: 20, defaultValue: 5 },
        { name: 'gateweaveNoiseFrequency', label: qsTr('Noise Frequency'), group: qsTr('Gateweave'), kind: 'double', minimum: 0, maximum: 100, defaultValue: 5 },
        { name: 'doContrast', label: qsTr('Apply PostContrast'), group: '', kind: 'bool', minimum: 0, maximum: 1, defaultValue: 0 },
        { name: 'contrastAmount', label: qsTr('Amount'), group: qsTr('Post Contrast'), kind: 'int', minimum: -100, maximum: 100, defaultValue: 27 },
        { name: 'fps', label: qsTr('Frames per second of the clip'), group: '', kind: 'fps', minimum: 1, maximum: 240, defaultValue: 25 }
    ]
    property bool ready: false

    function toFilter(p, v) {
        if (p.kind === 'bool' || p.kind === 'fps')
            return v;
        return (v - p.minimum) / (p.maximum - p.minimum);
    }

    function fromFilter(p, v) {
        if (p.kind === 'bool' || p.kind === 'fps')
            return v;
        return p.minimum + v * (p.maximum - p.minimum);
    }

    width: 460
    height: layout.implicitHeight + 16
    Component.onCompleted: {
        if (filter.isNew) {
            for (var i = 0; i < parameters.length; ++i)
                filter.set(parameters[i].name, toFilter(parameters[i], parameters[i].defaultValue));
        }
        ready = true;
    }

    ColumnLayout {
        id: layout

        anchors.fill: parent
        anchors.margins: 8

        Repeater {
            model: root.parameters.length

            delegate: RowLayout {
                readonly property var setting: root.parameters[index]

                Label {
                    text: setting.group ? setting.group + ': ' + setting.label : setting.label
                    horizontalAlignment: Text.AlignRight
                    Layout.preferredWidth: 190
                }

                CheckBox {
                    visible: setting.kind === 'bool'
                    checked: root.ready ? filter.getDouble(setting.name) >= 0.5 : setting.defaultValue >= 0.5
                    onToggled: filter.set(setting.name, checked ? 1 : 0)
                }

                Shotcut.SliderSpinner {
                    visible: setting.kind !== 'bool'
                    minimumValue: setting.minimum
                    maximumValue: setting.maximum
                    decimals: setting.kind === 'int' ? 0 : 2
                    stepSize: setting.kind === 'int' ? 1 : 0.01
                    value: root.ready ? root.fromFilter(setting, filter.getDouble(setting.name)) : setting.defaultValue
                    onValueChanged: {
                        if (root.ready && setting.kind !== 'bool')
                            filter.set(setting.name, root.toFilter(setting, value));
                    }
                    Layout.fillWidth: true
                }

                Shotcut.UndoButton {
                    onClicked: filter.set(setting.name, root.toFilter(setting, setting.defaultValue))
                }

            }

        }

    }

    Connections {
        function onChanged() {
            // Values changed from elsewhere (a preset, undo): the bindings read them again.
            root.ready = false;
            root.ready = true;
        }

        target: filter
    }

}
