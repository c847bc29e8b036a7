#include "ui/mpris.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QVariantMap>

#include <unistd.h>

#include "config/settings.h"
#include "session/message_codes.h"
#include "ui/dial.h"
#include "ui/main_window.h"

namespace kuv {

namespace {

constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";

// What an introspecting client (gdbus, d-feet) is told; the properties and
// methods handled below.
constexpr const char* kIntrospection = R"(
  <interface name="org.mpris.MediaPlayer2">
    <method name="Raise"/>
    <method name="Quit"/>
    <property name="CanQuit" type="b" access="read"/>
    <property name="CanRaise" type="b" access="read"/>
    <property name="HasTrackList" type="b" access="read"/>
    <property name="Identity" type="s" access="read"/>
    <property name="DesktopEntry" type="s" access="read"/>
    <property name="SupportedUriSchemes" type="as" access="read"/>
    <property name="SupportedMimeTypes" type="as" access="read"/>
  </interface>
  <interface name="org.mpris.MediaPlayer2.Player">
    <method name="Next"/>
    <method name="Previous"/>
    <method name="Pause"/>
    <method name="PlayPause"/>
    <method name="Stop"/>
    <method name="Play"/>
    <method name="Seek"><arg name="Offset" type="x" direction="in"/></method>
    <method name="SetPosition">
      <arg name="TrackId" type="o" direction="in"/>
      <arg name="Position" type="x" direction="in"/>
    </method>
    <method name="OpenUri"><arg name="Uri" type="s" direction="in"/></method>
    <signal name="Seeked"><arg name="Position" type="x"/></signal>
    <property name="PlaybackStatus" type="s" access="read"/>
    <property name="LoopStatus" type="s" access="readwrite"/>
    <property name="Rate" type="d" access="readwrite"/>
    <property name="Shuffle" type="b" access="readwrite"/>
    <property name="Metadata" type="a{sv}" access="read"/>
    <property name="Volume" type="d" access="readwrite"/>
    <property name="Position" type="x" access="read"/>
    <property name="MinimumRate" type="d" access="read"/>
    <property name="MaximumRate" type="d" access="read"/>
    <property name="CanGoNext" type="b" access="read"/>
    <property name="CanGoPrevious" type="b" access="read"/>
    <property name="CanPlay" type="b" access="read"/>
    <property name="CanPause" type="b" access="read"/>
    <property name="CanSeek" type="b" access="read"/>
    <property name="CanControl" type="b" access="read"/>
  </interface>
  <interface name="org.freedesktop.DBus.Properties">
    <method name="Get">
      <arg name="interface_name" type="s" direction="in"/>
      <arg name="property_name" type="s" direction="in"/>
      <arg name="value" type="v" direction="out"/>
    </method>
    <method name="GetAll">
      <arg name="interface_name" type="s" direction="in"/>
      <arg name="properties" type="a{sv}" direction="out"/>
    </method>
    <method name="Set">
      <arg name="interface_name" type="s" direction="in"/>
      <arg name="property_name" type="s" direction="in"/>
      <arg name="value" type="v" direction="in"/>
    </method>
    <signal name="PropertiesChanged">
      <arg name="interface_name" type="s"/>
      <arg name="changed_properties" type="a{sv}"/>
      <arg name="invalidated_properties" type="as"/>
    </signal>
  </interface>
)";

QString text(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QVariantMap metadataOf(const MprisView& v) {
  QVariantMap m;
  m.insert("mpris:trackid", QVariant::fromValue(QDBusObjectPath(text(mprisTrackId(v)))));
  if (v.entryId == 0) return m;
  if (v.lengthUs > 0) m.insert("mpris:length", static_cast<qlonglong>(v.lengthUs));
  m.insert("xesam:title", text(mprisTitle(v)));
  if (!v.artist.empty()) m.insert("xesam:artist", QStringList{text(v.artist)});
  if (!v.album.empty()) m.insert("xesam:album", text(v.album));
  m.insert("xesam:url", text(mprisUrl(v.path)));
  return m;
}

// A property of the Player interface whose value follows the view.
QVariant playerProperty(const QString& name, const MprisView& v) {
  if (name == "PlaybackStatus") return QString(mprisPlaybackStatus(v.playbackState));
  if (name == "LoopStatus") return QString(mprisLoopStatus(v.repeatPlay));
  if (name == "Shuffle") return v.shufflePlay != 0;
  if (name == "Metadata") return metadataOf(v);
  if (name == "Volume") return mprisVolume(v.eqVolume);
  if (name == "CanGoNext") return mprisCanGoNext(v);
  if (name == "CanGoPrevious") return mprisCanGoPrevious(v);
  if (name == "CanPlay") return mprisCanPlay(v);
  if (name == "CanPause") return mprisCanPause(v);
  if (name == "CanSeek") return mprisCanSeek(v);
  if (name == "Rate" || name == "MinimumRate" || name == "MaximumRate") return 1.0;
  if (name == "CanControl") return true;
  return {};
}

QVariant rootProperty(const QString& name) {
  if (name == "CanQuit" || name == "CanRaise") return true;
  if (name == "HasTrackList") return false;
  if (name == "Identity") return QString(kMprisIdentity);
  if (name == "DesktopEntry") return QString(kMprisDesktopEntry);
  if (name == "SupportedUriSchemes") return QStringList{"file", "http", "https"};
  if (name == "SupportedMimeTypes")
    return QStringList{"audio/mpeg", "audio/mp3", "audio/x-mpegurl", "audio/mpegurl", "audio/x-scpls"};
  return {};
}

}  // namespace

class MprisObject final : public QDBusVirtualObject {
 public:
  explicit MprisObject(MainWindow& window) : window_(window) {}

  bool start() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    if (!bus.registerVirtualObject(kMprisObjectPath, this, QDBusConnection::SingleNode)) return false;
    // A second player (MultipleInstances) takes a name of its own.
    name_ = text(mprisBusName(false, 0));
    if (!bus.registerService(name_)) {
      name_ = text(mprisBusName(true, getpid()));
      if (!bus.registerService(name_)) {
        bus.unregisterObject(kMprisObjectPath);
        name_.clear();
        return false;
      }
    }
    shown_ = mprisViewOf(window_.player());
    return true;
  }

  ~MprisObject() override {
    if (name_.isEmpty()) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(name_);
    bus.unregisterObject(kMprisObjectPath);
  }

  void refresh() {
    if (name_.isEmpty()) return;
    const MprisView now = mprisViewOf(window_.player());
    const uint32_t changed = mprisChanged(shown_, now);
    shown_ = now;
    if (changed == 0) return;
    QVariantMap values;
    const auto& names = mprisPropertyNames();
    for (size_t i = 0; i < names.size(); ++i)
      if (changed & (1u << i)) values.insert(text(names[i]), playerProperty(text(names[i]), now));
    QDBusMessage signal = QDBusMessage::createSignal(kMprisObjectPath, kPropertiesInterface, "PropertiesChanged");
    signal << QString(kMprisPlayerInterface) << values << QStringList();
    QDBusConnection::sessionBus().send(signal);
  }

  void seeked(int64_t positionMs) {
    if (name_.isEmpty()) return;
    QDBusMessage signal = QDBusMessage::createSignal(kMprisObjectPath, kMprisPlayerInterface, "Seeked");
    signal << static_cast<qlonglong>(positionMs < 0 ? 0 : positionMs * 1000);
    QDBusConnection::sessionBus().send(signal);
  }

  QString introspect(const QString& path) const override {
    (void)path;
    return kIntrospection;
  }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    const QString interface = message.interface();
    const QString member = message.member();
    const QList<QVariant> args = message.arguments();
    QDBusMessage reply;
    if (interface == kPropertiesInterface) {
      reply = properties(message, member, args);
    } else if (interface == kMprisRootInterface || (interface.isEmpty() && (member == "Raise" || member == "Quit"))) {
      reply = rootMethod(message, member);
    } else if (interface == kMprisPlayerInterface || interface.isEmpty()) {
      reply = playerMethod(message, member, args);
    } else {
      return false;
    }
    if (!message.isReplyRequired()) return true;
    connection.send(reply);
    return true;
  }

 private:
  static QDBusMessage unknown(const QDBusMessage& message) {
    return message.createErrorReply(QDBusError::UnknownMethod, "No such method: " + message.member());
  }
  static QDBusMessage badArguments(const QDBusMessage& message) {
    return message.createErrorReply(QDBusError::InvalidArgs, "Wrong arguments for " + message.member());
  }

  MprisView view() { return mprisViewOf(window_.player()); }

  int64_t positionUs() {
    int32_t ms = 0;
    answerQuery(window_.player(), MW_GET_OUTPUT_POSITION, 0, ms);
    return static_cast<int64_t>(ms < 0 ? 0 : ms) * 1000;
  }

  // The window's afterEvent sends what changed.
  void command(int32_t command) { window_.run(command); }

  void seek(const MprisSeek& s) {
    if (s.kind == MprisSeek::Kind::kNext) {
      command(CMD_NEXT);
    } else if (s.kind == MprisSeek::Kind::kSeekTo) {
      int32_t ignored = 0;
      // The query's seek, which also tells every listener of the jump.
      answerQuery(window_.player(), MW_SEEK_MS, static_cast<int32_t>(std::min<int64_t>(s.ms, INT32_MAX)), ignored);
      window_.afterEvent();
    }
  }

  QDBusMessage rootMethod(const QDBusMessage& message, const QString& member) {
    if (member == "Raise") {
      window_.bringForward();
    } else if (member == "Quit") {
      // After the reply: closing ends this object with the window.
      QMetaObject::invokeMethod(
          &window_, [window = &window_] { window->run(CMD_CLOSE); }, Qt::QueuedConnection);
    } else {
      return unknown(message);
    }
    return message.createReply();
  }

  QDBusMessage playerMethod(const QDBusMessage& message, const QString& member, const QList<QVariant>& args) {
    const int32_t state = window_.player().session.state.playbackState;
    if (member == "Next") {
      command(CMD_NEXT);
    } else if (member == "Previous") {
      command(CMD_PREVIOUS);
    } else if (member == "Pause") {
      if (state == Playing) command(CMD_PAUSE);
    } else if (member == "PlayPause") {
      command(state == Playing ? CMD_PAUSE : CMD_PLAY);
    } else if (member == "Stop") {
      command(CMD_STOP);
    } else if (member == "Play") {
      if (state != Playing) command(CMD_PLAY);
    } else if (member == "Seek") {
      if (args.size() != 1) return badArguments(message);
      seek(mprisSeekBy(view(), positionUs(), args[0].toLongLong()));
    } else if (member == "SetPosition") {
      if (args.size() != 2) return badArguments(message);
      seek(mprisSetPosition(view(), args[0].value<QDBusObjectPath>().path().toStdString(), args[1].toLongLong()));
    } else if (member == "OpenUri") {
      if (args.size() != 1) return badArguments(message);
      std::string name;
      if (!nameForUri(args[0].toString().toStdString(), name))
        return message.createErrorReply(QDBusError::InvalidArgs, "KUV cannot open " + args[0].toString());
      handleHandOver(window_.player(), HANDOVER_REPLACE_AND_PLAY, 0, name);
      window_.afterEvent();
    } else {
      return unknown(message);
    }
    return message.createReply();
  }

  QDBusMessage properties(const QDBusMessage& message, const QString& member, const QList<QVariant>& args) {
    if (args.isEmpty()) return badArguments(message);
    const QString interface = args[0].toString();
    const bool player = interface == kMprisPlayerInterface;
    if (!player && interface != kMprisRootInterface)
      return message.createErrorReply(QDBusError::UnknownInterface, "No such interface: " + interface);
    if (member == "GetAll") {
      QVariantMap all;
      if (player) {
        const MprisView v = view();
        for (const char* name :
             {"PlaybackStatus", "LoopStatus", "Rate", "Shuffle", "Metadata", "Volume", "MinimumRate", "MaximumRate",
              "CanGoNext", "CanGoPrevious", "CanPlay", "CanPause", "CanSeek", "CanControl"})
          all.insert(name, playerProperty(name, v));
        all.insert("Position", static_cast<qlonglong>(positionUs()));
      } else {
        for (const char* name : {"CanQuit", "CanRaise", "HasTrackList", "Identity", "DesktopEntry",
                                 "SupportedUriSchemes", "SupportedMimeTypes"})
          all.insert(name, rootProperty(name));
      }
      return message.createReply(QVariant::fromValue(all));
    }
    if (args.size() < 2) return badArguments(message);
    const QString name = args[1].toString();
    if (member == "Get") {
      QVariant value;
      if (player && name == "Position")
        value = static_cast<qlonglong>(positionUs());
      else
        value = player ? playerProperty(name, view()) : rootProperty(name);
      if (!value.isValid()) return message.createErrorReply(QDBusError::UnknownProperty, "No such property: " + name);
      return message.createReply(QVariant::fromValue(QDBusVariant(value)));
    }
    if (member == "Set") {
      if (args.size() != 3) return badArguments(message);
      return setProperty(message, player, name, args[2].value<QDBusVariant>().variant());
    }
    return unknown(message);
  }

  QDBusMessage setProperty(const QDBusMessage& message, bool player, const QString& name, const QVariant& value) {
    if (!player) return message.createErrorReply(QDBusError::PropertyReadOnly, name + " is read-only");
    if (name == "LoopStatus") {
      int32_t repeat = 0;
      if (!repeatForLoopStatus(value.toString().toStdString(), repeat))
        return message.createErrorReply(QDBusError::InvalidArgs, "No such loop status: " + value.toString());
      settings.RepeatPlay = repeat;
    } else if (name == "Shuffle") {
      // As the Shuffle button: the setting, for the lists that come.
      if ((settings.ShufflePlay != 0) != value.toBool()) window_.run(CMD_SHUFFLE);
    } else if (name == "Volume") {
      bool ok = false;
      const double volume = value.toDouble(&ok);
      if (!ok) return badArguments(message);
      int32_t ignored = 0;
      answerQuery(window_.player(), MW_SET_VOLUME, eqVolumeFor(volume), ignored);
      dialRedraw();
    } else if (name == "Rate") {
      // Only 1.0 is offered; anything else is ignored, as clients expect.
    } else {
      return message.createErrorReply(QDBusError::PropertyReadOnly, name + " is read-only");
    }
    window_.afterEvent();
    return message.createReply();
  }

  MainWindow& window_;
  QString name_;
  MprisView shown_;
};

MprisService::MprisService(MainWindow& window) : object_(std::make_unique<MprisObject>(window)) {}

MprisService::~MprisService() = default;

bool MprisService::start() { return object_->start(); }

void MprisService::refresh() { object_->refresh(); }

void MprisService::seeked(int64_t positionMs) { object_->seeked(positionMs); }

}  // namespace kuv
