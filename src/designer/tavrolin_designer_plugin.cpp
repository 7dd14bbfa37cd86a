#include "tavrolin_designer_plugin.h"

#include <tavrolin/tavrolin.h>

#include <QIcon>

TavrolinDesignerPlugin::TavrolinDesignerPlugin(QObject* parent) : QObject(parent) {}

QString TavrolinDesignerPlugin::name() const {
    return QStringLiteral("Tavrolin");
}

QString TavrolinDesignerPlugin::group() const {
    return QStringLiteral("Tavrolin");
}

QString TavrolinDesignerPlugin::toolTip() const {
    return QStringLiteral("Tavrolin Cross Reference Control");
}

QString TavrolinDesignerPlugin::whatsThis() const {
    return QStringLiteral(
        "Links one employee to vendors. At run time call setEmployeeID() and then "
        "setServerName(); the control loads from the server's /Tavrolin.asp page.");
}

QString TavrolinDesignerPlugin::includeFile() const {
    return QStringLiteral("tavrolin/tavrolin.h");
}

QIcon TavrolinDesignerPlugin::icon() const {
    return QIcon(QStringLiteral(":/tavrolin/designer/tavrolin.png"));
}

bool TavrolinDesignerPlugin::isContainer() const {
    return false;
}

// The control loads nothing until a host sets the server, so on a form it shows its empty lists.
QWidget* TavrolinDesignerPlugin::createWidget(QWidget* parent) {
    return new Tavrolin(parent);
}

bool TavrolinDesignerPlugin::isInitialized() const {
    return mInitialized;
}

void TavrolinDesignerPlugin::initialize(QDesignerFormEditorInterface*) {
    mInitialized = true;
}

// A dropped control starts at its size hint, where every child shows whole. The global header
// location makes uic write #include <tavrolin/tavrolin.h>, as hosts include it.
QString TavrolinDesignerPlugin::domXml() const {
    const QSize hint = Tavrolin().sizeHint();
    return QStringLiteral(R"(<ui language="c++" displayname="Tavrolin">
 <widget class="Tavrolin" name="tavrolin">
  <property name="geometry">
   <rect><x>0</x><y>0</y><width>%1</width><height>%2</height></rect>
  </property>
 </widget>
 <customwidgets>
  <customwidget>
   <class>Tavrolin</class>
   <extends>QWidget</extends>
   <header location="global">tavrolin/tavrolin.h</header>
  </customwidget>
 </customwidgets>
</ui>
)")
        .arg(hint.width())
        .arg(hint.height());
}
