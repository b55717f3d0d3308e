# The texts of the thirteen language libraries, in the order of the
# installer's language list (French is built into the program).
# qv_language(code "name" LANGID primary sublanguage
#   file open exit help about doctype untitled openfail
#   confirm done partial running nolog)
# %1 stands for the file name or the product label. Quotes would need
# doubling for windres; none of the texts has one.

qv_language(en "English" 0409 0x09 0x01
  "&File" "&Open..." "E&xit" "&Help" "&About Trimora..."
  "Trimora Notebook" "Untitled" "The notebook %1 cannot be opened."
  "Do you want to remove %1 and all of its components?"
  "%1 was removed from your computer. Shared dictionaries and templates were kept."
  "%1 was removed, but some of its files or folders could not be deleted."
  "Please close %1 before removing it."
  "The uninstall log of %1 cannot be read: nothing was removed.")

qv_language(de "Deutsch" 0407 0x07 0x01
  "&Datei" "Ö&ffnen..." "&Beenden" "&Hilfe" "Ü&ber Trimora..."
  "Trimora-Notizbuch" "Unbenannt" "Das Notizbuch %1 kann nicht geöffnet werden."
  "Möchten Sie %1 und alle zugehörigen Komponenten entfernen?"
  "%1 wurde von Ihrem Computer entfernt. Gemeinsame Wörterbücher und Vorlagen wurden beibehalten."
  "%1 wurde entfernt, aber einige Dateien oder Ordner konnten nicht gelöscht werden."
  "Bitte schließen Sie %1, bevor Sie es entfernen."
  "Das Deinstallationsprotokoll von %1 kann nicht gelesen werden: Es wurde nichts entfernt.")

qv_language(es "Español" 0c0a 0x0A 0x03
  "&Archivo" "&Abrir..." "&Salir" "Ay&uda" "&Acerca de Trimora..."
  "Cuaderno de Trimora" "Sin título" "No se puede abrir el cuaderno %1."
  "¿Desea quitar %1 y todos sus componentes?"
  "%1 se ha quitado del equipo. Los diccionarios y plantillas compartidos se han conservado."
  "%1 se ha quitado, pero algunos archivos o carpetas no se han podido eliminar."
  "Cierre %1 antes de quitarlo."
  "No se puede leer el registro de desinstalación de %1: no se ha quitado nada.")

qv_language(it "Italiano" 0410 0x10 0x01
  "&File" "&Apri..." "&Esci" "&Guida" "&Informazioni su Trimora..."
  "Quaderno di Trimora" "Senza titolo" "Impossibile aprire il quaderno %1."
  "Rimuovere %1 e tutti i suoi componenti?"
  "%1 è stato rimosso dal computer. I dizionari e i modelli condivisi sono stati conservati."
  "%1 è stato rimosso, ma non è stato possibile eliminare alcuni file o cartelle."
  "Chiudere %1 prima di rimuoverlo."
  "Impossibile leggere il registro di disinstallazione di %1: non è stato rimosso nulla.")

qv_language(pt "Português" 0816 0x16 0x02
  "&Ficheiro" "&Abrir..." "Sa&ir" "A&juda" "&Acerca do Trimora..."
  "Caderno do Trimora" "Sem título" "Não é possível abrir o caderno %1."
  "Pretende remover o %1 e todos os seus componentes?"
  "O %1 foi removido do computador. Os dicionários e modelos partilhados foram mantidos."
  "O %1 foi removido, mas não foi possível eliminar alguns ficheiros ou pastas."
  "Feche o %1 antes de o remover."
  "Não é possível ler o registo de desinstalação do %1: nada foi removido.")

qv_language(nl "Nederlands" 0413 0x13 0x01
  "&Bestand" "&Openen..." "&Afsluiten" "&Help" "&Over Trimora..."
  "Trimora-notitieboek" "Naamloos" "Het notitieboek %1 kan niet worden geopend."
  "Wilt u %1 en alle onderdelen ervan verwijderen?"
  "%1 is van uw computer verwijderd. Gedeelde woordenlijsten en sjablonen zijn bewaard."
  "%1 is verwijderd, maar sommige bestanden of mappen konden niet worden verwijderd."
  "Sluit %1 voordat u het verwijdert."
  "Het verwijderingslogboek van %1 kan niet worden gelezen: er is niets verwijderd.")

qv_language(pl "Polski" 0415 0x15 0x01
  "&Plik" "&Otwórz..." "&Zakończ" "Pomo&c" "&Informacje o programie Trimora..."
  "Notatnik Trimora" "Bez tytułu" "Nie można otworzyć notatnika %1."
  "Czy chcesz usunąć program %1 i wszystkie jego składniki?"
  "Program %1 został usunięty z komputera. Wspólne słowniki i szablony zostały zachowane."
  "Program %1 został usunięty, ale nie udało się usunąć niektórych plików lub folderów."
  "Zamknij program %1 przed jego usunięciem."
  "Nie można odczytać dziennika dezinstalacji programu %1: nic nie zostało usunięte.")

qv_language(el "Ελληνικά" 0408 0x08 0x01
  "&Αρχείο" "Ά&νοιγμα..." "Έ&ξοδος" "&Βοήθεια" "&Πληροφορίες για το Trimora..."
  "Σημειωματάριο Trimora" "Χωρίς τίτλο" "Δεν είναι δυνατό το άνοιγμα του σημειωματαρίου %1."
  "Θέλετε να καταργήσετε το %1 και όλα τα στοιχεία του;"
  "Το %1 καταργήθηκε από τον υπολογιστή σας. Τα κοινόχρηστα λεξικά και πρότυπα διατηρήθηκαν."
  "Το %1 καταργήθηκε, αλλά ορισμένα αρχεία ή φάκελοι δεν ήταν δυνατό να διαγραφούν."
  "Κλείστε το %1 πριν από την κατάργησή του."
  "Δεν είναι δυνατή η ανάγνωση του αρχείου καταγραφής κατάργησης του %1: δεν καταργήθηκε τίποτα.")

qv_language(tr "Türkçe" 041f 0x1F 0x01
  "&Dosya" "&Aç..." "Çı&kış" "&Yardım" "Trimora &Hakkında..."
  "Trimora Defteri" "Adsız" "%1 defteri açılamıyor."
  "%1 ve tüm bileşenlerini kaldırmak istiyor musunuz?"
  "%1 bilgisayarınızdan kaldırıldı. Paylaşılan sözlükler ve şablonlar korundu."
  "%1 kaldırıldı, ancak bazı dosya veya klasörler silinemedi."
  "Lütfen kaldırmadan önce %1 uygulamasını kapatın."
  "%1 kaldırma günlüğü okunamıyor: hiçbir şey kaldırılmadı.")

qv_language(bg "Български" 0402 0x02 0x01
  "&Файл" "&Отваряне..." "&Изход" "&Помощ" "&За Trimora..."
  "Бележник на Trimora" "Без име" "Бележникът %1 не може да бъде отворен."
  "Искате ли да премахнете %1 и всички негови компоненти?"
  "%1 беше премахнат от компютъра. Споделените речници и шаблони бяха запазени."
  "%1 беше премахнат, но някои файлове или папки не можаха да бъдат изтрити."
  "Моля, затворете %1, преди да го премахнете."
  "Дневникът за деинсталиране на %1 не може да бъде прочетен: нищо не беше премахнато.")

qv_language(ro "Română" 0418 0x18 0x01
  "&Fișier" "&Deschidere..." "Ieși&re" "A&jutor" "&Despre Trimora..."
  "Caiet Trimora" "Fără titlu" "Caietul %1 nu poate fi deschis."
  "Doriți să eliminați %1 și toate componentele sale?"
  "%1 a fost eliminat de pe computer. Dicționarele și șabloanele partajate au fost păstrate."
  "%1 a fost eliminat, dar unele fișiere sau foldere nu au putut fi șterse."
  "Închideți %1 înainte de a-l elimina."
  "Jurnalul de dezinstalare al %1 nu poate fi citit: nu a fost eliminat nimic.")

qv_language(zh "中文(简体)" 0804 0x04 0x02
  "文件(&F)" "打开(&O)..." "退出(&X)" "帮助(&H)" "关于 Trimora(&A)..."
  "Trimora 笔记本" "无标题" "无法打开笔记本 %1。"
  "是否要删除 %1 及其所有组件？"
  "%1 已从您的计算机中删除。共享的词典和模板已保留。"
  "%1 已删除，但部分文件或文件夹无法删除。"
  "请先关闭 %1，然后再将其删除。"
  "无法读取 %1 的卸载日志：未删除任何内容。")

qv_language(hu "Magyar" 040e 0x0E 0x01
  "&Fájl" "&Megnyitás..." "&Kilépés" "&Súgó" "A Trimora &névjegye..."
  "Trimora-jegyzetfüzet" "Névtelen" "A(z) %1 jegyzetfüzet nem nyitható meg."
  "Eltávolítja a(z) %1 programot és minden összetevőjét?"
  "A(z) %1 eltávolítása megtörtént. A megosztott szótárak és sablonok megmaradtak."
  "A(z) %1 eltávolítása megtörtént, de egyes fájlokat vagy mappákat nem sikerült törölni."
  "A(z) %1 eltávolítása előtt zárja be a programot."
  "A(z) %1 eltávolítási naplója nem olvasható: semmi sem lett eltávolítva.")
