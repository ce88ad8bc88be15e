// zoom-testclient: a small GTK 3 meeting window for the observer's end-to-end
// tests, its demo and its benchmark. It shows video tiles whose accessible texts
// say who speaks (the speaker changes on a fixed period), and a participants list
// behind a "Teilnehmer" button that is built when opened and destroyed when
// closed, so its names are in the accessibility tree only while it is open.
//
//   zoom-testclient [--wechsel SEKUNDEN] [--panel-offen] [--knoten N]
//
// Standard output, one line each, flushed at once: "bereit" once the window is
// shown, "panel offen" / "panel zu" on every press of the button, and
// "sprecher NAME" whenever the active speaker changes.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Teilnehmer {
    const char* name;
    bool videoAn;
};

// The call as the tiles show it; the speaker rotates through them in this order.
const Teilnehmer KACHELN[] = {
    {"Anna Berg", true},
    {"Jean-Luc Favre", true},
    {"Élodie Dubois", false},
};

// The participants list: titles as meeting clients write them, with a bot.
const char* const LISTE[] = {
    "Anna Berg (Host, me)", "Jean-Luc Favre",      "Élodie Dubois (Gast)",
    "Zoë Müller-Şahin",     "Fireflies Notetaker",
};

struct Kachel {
    GtkWidget* rahmen;
    GtkWidget* marke;
};

struct Client {
    GtkWidget* fenster = nullptr;
    GtkWidget* inhalt = nullptr;
    GtkWidget* panel = nullptr;
    std::vector<Kachel> kacheln;
    size_t sprecher = 0;
};

void melde(const std::string& zeile) {
    std::fputs((zeile + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void setzeRolle(GtkWidget* w, AtkRole rolle, const char* beschreibung) {
    AtkObject* a = gtk_widget_get_accessible(w);
    atk_object_set_role(a, rolle);
    if (beschreibung != nullptr) atk_object_set_description(a, beschreibung);
}

// The tile texts for the current speaker; a tile's description names its person
// first, then the video state and, on the speaker's tile, the speaker marker.
void zeigeSprecher(Client& c) {
    for (size_t i = 0; i < c.kacheln.size(); ++i) {
        const Teilnehmer& t = KACHELN[i];
        const bool spricht = i == c.sprecher;
        std::string text = std::string(t.name) + (t.videoAn ? ", Video on" : ", Video off");
        if (spricht) text += ", Active speaker";
        atk_object_set_description(gtk_widget_get_accessible(c.kacheln[i].rahmen), text.c_str());
        gtk_label_set_text(GTK_LABEL(c.kacheln[i].marke), spricht ? "spricht" : "");
    }
    melde(std::string("sprecher ") + KACHELN[c.sprecher].name);
}

gboolean wechsle(gpointer daten) {
    Client& c = *static_cast<Client*>(daten);
    c.sprecher = (c.sprecher + 1) % c.kacheln.size();
    zeigeSprecher(c);
    return G_SOURCE_CONTINUE;
}

void oeffnePanel(Client& c) {
    c.panel = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    GtkWidget* kopf = gtk_label_new("Teilnehmer (5)");
    gtk_box_pack_start(GTK_BOX(c.panel), kopf, FALSE, FALSE, 0);
    GtkWidget* liste = gtk_list_box_new();
    for (const char* name : LISTE) {
        GtkWidget* zeile = gtk_label_new(name);
        gtk_list_box_insert(GTK_LIST_BOX(liste), zeile, -1);
    }
    gtk_box_pack_start(GTK_BOX(c.panel), liste, TRUE, TRUE, 0);
    GtkWidget* einladen = gtk_button_new_with_label("Einladen");
    gtk_box_pack_start(GTK_BOX(c.panel), einladen, FALSE, FALSE, 0);
    gtk_box_pack_end(GTK_BOX(c.inhalt), c.panel, FALSE, FALSE, 0);
    gtk_widget_show_all(c.panel);
    melde("panel offen");
}

void schliessePanel(Client& c) {
    gtk_widget_destroy(c.panel);
    c.panel = nullptr;
    melde("panel zu");
}

void teilnehmerGedrueckt(GtkButton*, gpointer daten) {
    Client& c = *static_cast<Client*>(daten);
    if (c.panel == nullptr) {
        oeffnePanel(c);
    } else {
        schliessePanel(c);
    }
}

GtkWidget* menueleiste() {
    GtkWidget* leiste = gtk_menu_bar_new();
    for (const char* titel : {"Meeting", "Ansicht", "Hilfe"}) {
        GtkWidget* eintrag = gtk_menu_item_new_with_label(titel);
        GtkWidget* menue = gtk_menu_new();
        gtk_menu_shell_append(GTK_MENU_SHELL(menue), gtk_menu_item_new_with_label("Anna Berg"));
        gtk_menu_item_set_submenu(GTK_MENU_ITEM(eintrag), menue);
        gtk_menu_shell_append(GTK_MENU_SHELL(leiste), eintrag);
    }
    return leiste;
}

GtkWidget* knopfleiste(Client& c) {
    GtkWidget* leiste = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
    for (const char* titel : {"Stummschalten", "Video beenden", "Chat", "Aufnehmen"}) {
        gtk_box_pack_start(GTK_BOX(leiste), gtk_button_new_with_label(titel), FALSE, FALSE, 0);
    }
    GtkWidget* teilnehmer = gtk_button_new_with_label("Teilnehmer");
    atk_object_set_accessible_id(gtk_widget_get_accessible(teilnehmer), "teilnehmer-knopf");
    g_signal_connect(teilnehmer, "clicked", G_CALLBACK(teilnehmerGedrueckt), &c);
    gtk_box_pack_start(GTK_BOX(leiste), teilnehmer, FALSE, FALSE, 0);
    return leiste;
}

GtkWidget* kachelflaeche(Client& c) {
    GtkWidget* flaeche = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    for (const Teilnehmer& t : KACHELN) {
        GtkWidget* rahmen = gtk_frame_new(nullptr);
        setzeRolle(rahmen, ATK_ROLE_PAGE_TAB_LIST, nullptr);
        GtkWidget* innen = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
        gtk_box_pack_start(GTK_BOX(innen), gtk_label_new(t.name), FALSE, FALSE, 0);
        GtkWidget* marke = gtk_label_new("");
        gtk_box_pack_start(GTK_BOX(innen), marke, FALSE, FALSE, 0);
        gtk_container_add(GTK_CONTAINER(rahmen), innen);
        gtk_widget_set_size_request(rahmen, 200, 120);
        gtk_box_pack_start(GTK_BOX(flaeche), rahmen, TRUE, TRUE, 0);
        c.kacheln.push_back({rahmen, marke});
    }
    return flaeche;
}

// `anzahl` plain labels in a grid: a large tree for the benchmark.
GtkWidget* fuellflaeche(int anzahl) {
    GtkWidget* gitter = gtk_grid_new();
    for (int i = 0; i < anzahl; ++i) {
        const std::string text = "Zeile " + std::to_string(i);
        gtk_grid_attach(GTK_GRID(gitter), gtk_label_new(text.c_str()), i % 40, i / 40, 1, 1);
    }
    GtkWidget* rollbar = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_container_add(GTK_CONTAINER(rollbar), gitter);
    gtk_widget_set_size_request(rollbar, 600, 200);
    return rollbar;
}

gboolean meldeBereit(gpointer) {
    melde("bereit");
    return G_SOURCE_REMOVE;
}

[[noreturn]] void aufruf() {
    std::fputs("Aufruf: zoom-testclient [--wechsel SEKUNDEN] [--panel-offen] [--knoten N]\n",
               stderr);
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    double wechselSekunden = 1.5;
    bool panelOffen = false;
    int knoten = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--wechsel" && i + 1 < argc) {
            wechselSekunden = std::atof(argv[++i]);
            if (!(wechselSekunden >= 0.1)) aufruf();
        } else if (a == "--panel-offen") {
            panelOffen = true;
        } else if (a == "--knoten" && i + 1 < argc) {
            knoten = std::atoi(argv[++i]);
            if (knoten < 0) aufruf();
        } else {
            aufruf();
        }
    }

    gtk_init(nullptr, nullptr);
    Client c;
    c.fenster = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(c.fenster), "Zoom Meeting");
    gtk_window_set_default_size(GTK_WINDOW(c.fenster), 900, 600);
    g_signal_connect(c.fenster, "destroy", G_CALLBACK(gtk_main_quit), nullptr);

    GtkWidget* spalte = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_box_pack_start(GTK_BOX(spalte), menueleiste(), FALSE, FALSE, 0);
    c.inhalt = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    gtk_box_pack_start(GTK_BOX(c.inhalt), kachelflaeche(c), TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(spalte), c.inhalt, TRUE, TRUE, 0);
    if (knoten > 0) gtk_box_pack_start(GTK_BOX(spalte), fuellflaeche(knoten), TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(spalte), knopfleiste(c), FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(c.fenster), spalte);

    zeigeSprecher(c);
    if (panelOffen) oeffnePanel(c);
    gtk_widget_show_all(c.fenster);
    g_timeout_add(static_cast<guint>(wechselSekunden * 1000), wechsle, &c);
    g_idle_add(meldeBereit, nullptr);
    gtk_main();
    return 0;
}
