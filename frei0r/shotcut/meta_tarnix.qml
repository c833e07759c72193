import QtQuick 2.0
import org.shotcut.qml 1.0

Metadata {
    type: Metadata.Filter
    name: qsTr("Old Film: Tarnix")
    keywords: qsTr('old film damage scratches dust grain flicker vignette weave', 'search keywords for the Tarnix video filter') + ' tarnix'
    objectName: 'tarnix'
    mlt_service: "frei0r.tarnix"
    qml: "ui.qml"
}
