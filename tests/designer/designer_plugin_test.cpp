// The Designer plugin as Qt Designer and QUiLoader use it: loaded from its folder, it offers the
// control and builds it from forms.
#include <tavrolin/tavrolin.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDomDocument>
#include <QFile>
#include <QPluginLoader>
#include <QTreeView>
#include <QUiLoader>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

#include <memory>

namespace {

const QString kPluginDir = QStringLiteral(TAVROLIN_DESIGNER_PLUGIN_DIR);
const QString kPluginFile = QStringLiteral(TAVROLIN_DESIGNER_PLUGIN_FILE);
const QString kForm = QStringLiteral(TAVROLIN_TEST_FORM);

std::unique_ptr<QWidget> loadForm(QUiLoader& loader) {
    QFile file(kForm);
    if (!file.open(QIODevice::ReadOnly)) return nullptr;
    return std::unique_ptr<QWidget>(loader.load(&file));
}

TEST(DesignerPlugin, DescribesTheControlForTheWidgetBox) {
    QPluginLoader plugin(kPluginFile);
    ASSERT_TRUE(plugin.load()) << qPrintable(plugin.errorString());
    auto* widget = qobject_cast<QDesignerCustomWidgetInterface*>(plugin.instance());
    ASSERT_NE(widget, nullptr);

    EXPECT_EQ(widget->name(), "Tavrolin");
    EXPECT_EQ(widget->group(), "Tavrolin");
    EXPECT_EQ(widget->toolTip(), "Tavrolin Cross Reference Control");
    EXPECT_EQ(widget->includeFile(), "tavrolin/tavrolin.h");
    EXPECT_FALSE(widget->isContainer());
    EXPECT_FALSE(widget->icon().isNull());
    EXPECT_FALSE(widget->icon().pixmap(32, 32).isNull());

    // The XML Designer drops onto a form: one Tavrolin, included the way hosts include it.
    QDomDocument dom;
    ASSERT_TRUE(dom.setContent(widget->domXml()));
    EXPECT_EQ(dom.documentElement().firstChildElement("widget").attribute("class"), "Tavrolin");
    const auto header = dom.documentElement()
                            .firstChildElement("customwidgets")
                            .firstChildElement("customwidget")
                            .firstChildElement("header");
    EXPECT_EQ(header.text(), "tavrolin/tavrolin.h");
    EXPECT_EQ(header.attribute("location"), "global");
    // Dropped at its size hint, so nothing of it is cut off on the form.
    const auto rect = dom.documentElement()
                          .firstChildElement("widget")
                          .firstChildElement("property")
                          .firstChildElement("rect");
    EXPECT_EQ(QSize(rect.firstChildElement("width").text().toInt(),
                    rect.firstChildElement("height").text().toInt()),
              Tavrolin().sizeHint());

    QWidget parent;
    std::unique_ptr<QWidget> created(widget->createWidget(&parent));
    EXPECT_NE(qobject_cast<Tavrolin*>(created.get()), nullptr);
    EXPECT_EQ(created->parentWidget(), &parent);
}

TEST(DesignerPlugin, FormHoldingTheControlLoadsThroughQUiLoader) {
    QUiLoader loader;
    loader.clearPluginPaths();
    loader.addPluginPath(kPluginDir);
    ASSERT_TRUE(loader.availableWidgets().contains("Tavrolin"));

    const auto form = loadForm(loader);
    ASSERT_NE(form, nullptr) << qPrintable(loader.errorString());
    auto* control = form->findChild<Tavrolin*>("crossReference");
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->parentWidget(), form.get());

    // It is the working control, with its lists and its checks on the employee.
    auto* vendors = control->findChild<QTreeView*>("lstVendors");
    auto* selected = control->findChild<QTreeView*>("lstSelectedVendors");
    ASSERT_NE(vendors, nullptr);
    ASSERT_NE(selected, nullptr);
    EXPECT_EQ(vendors->model()->rowCount(), 0);
    try {
        control->setEmployeeID("not a number");
        ADD_FAILURE() << "a text that is not a number was taken";
    } catch (const tavrolin::RunTimeError& e) {
        EXPECT_EQ(e.number(), tavrolin::errors::TypeMismatch);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
