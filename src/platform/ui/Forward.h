#pragma once
// Forward declarations of the user-interface classes, so headers can name them cheaply.

namespace platform {

class Timer;

struct Point;
struct Size;
struct Rect;
struct EdgeInsets;
struct AffineTransform;
struct Color;
struct Font;

class Responder;
class Touch;
class Event;
class View;
class Layer;
class LayerAnimation;
class Window;
class Image;
class ImageView;
class Label;
class Control;
class Button;
class Switch;
class TextField;
class TextFieldDelegate;
class ScrollView;
class ScrollViewDelegate;
class TableView;
class TableViewCell;
class TableViewDataSource;
class TableViewDelegate;
struct IndexPath;
class AlertView;
class AlertViewDelegate;
class BarButtonItem;
class Toolbar;
class NavigationBar;
class NavigationItem;
class ViewController;
class NavigationController;
class Application;
class ApplicationDelegate;
class Screen;
class Device;
class TextCanvas;
class GraphicsContext;
class DisplayList;
class DrawingLayer;
class ActivityIndicatorView;
class SegmentedControl;
class ActionSheet;
class ActionSheetDelegate;
class TextRenderer;
class MailComposeViewController;
class MailComposeViewControllerDelegate;

} // namespace platform
